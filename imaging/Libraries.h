#pragma once
// The libraries the imaging library decodes with, and their versions as linked (or, where a
// library cannot say, as compiled against), for the About box and the command-line tools.
#include <string>
#include <utility>
#include <vector>

// Name and version of each library, in a fixed order.
std::vector<std::pair<std::string, std::string>> ImagingLibraryVersions();
