// What the browser build's platform files share.
#pragma once

// Runs before every loop pass: the page's own checks (features a page cannot
// offer say so once in the log).
void PageChecks();

// Offers n bytes to the user as a file download named `name`.
void PageOfferDownload(const char* name, const unsigned char* bytes, int n);
