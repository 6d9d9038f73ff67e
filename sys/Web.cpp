#include "KELPSys.h"

char webBuffer[10000];
std::string website_HTML;

// TODO: not built yet.
void KELPSys::URLData(const std::string& host, const std::string& pathAndQuery) {}
