#pragma once

#include <string>

// The text type of every record: an 8-bit string holding UTF-8.
using UTF8String = std::string;
