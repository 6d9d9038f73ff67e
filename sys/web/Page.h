// What the browser build's platform files share.
#pragma once

// Runs before every loop pass: the page's own checks (features a page cannot
// offer say so once in the log).
void PageChecks();
