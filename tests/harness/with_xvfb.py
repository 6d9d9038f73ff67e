#!/usr/bin/env python3
"""Run one command on a private Xvfb display and return its exit status."""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from kelp_harness import Xvfb  # noqa: E402

if __name__ == "__main__":
    with Xvfb() as x:
        sys.exit(subprocess.call(sys.argv[1:], env=x.env()))
