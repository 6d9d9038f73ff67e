// Writes the demo's PNG art into the directory given on the command line.
#include <cstdio>
#include <filesystem>
#include <string>

#include "sheets.h"

#ifndef KELP_FONT_FILE
#define KELP_FONT_FILE "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
#endif

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: gen_images <output dir> [font file]\n");
    return 2;
  }
  std::string dir = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  art::Face face;
  if (!face.Open(argc > 2 ? argv[2] : KELP_FONT_FILE)) return 1;

  struct Job {
    const char* name;
    art::Canvas (*make)(art::Face&);
  };
  const Job jobs[] = {
      {"entplain.png", [](art::Face& f) { return art::FontSheet(f); }},
      {"KELPLogo.png", [](art::Face& f) { return art::FrameworkLogo(f); }},
      {"icons.png", [](art::Face&) { return art::IconSheet(); }},
      {"particles.png", [](art::Face&) { return art::ParticleSheet(); }},
      {"options.png", [](art::Face&) { return art::OptionIcons(); }},
      {"menu.png", [](art::Face&) { return art::MenuSheet(); }},
      {"logo.png", [](art::Face& f) { return art::TitleLogo(f); }},
      {"gfx.png", [](art::Face&) { return art::SpriteSheet(); }},
  };
  // Optional third argument: build only the named file (quicker iteration).
  std::string only = argc > 3 ? argv[3] : "";
  for (const Job& j : jobs) {
    if (!only.empty() && only != j.name) continue;
    if (!art::SavePng(j.make(face), dir + "/" + j.name)) return 1;
  }
  return 0;
}
