#pragma once
// How an image file's name says what it holds, shared by the window and the command line.

#include <string>

namespace quillet {

enum class ImageFileKind { Hex, Bin, Other };

// Decided by the last three characters of the path, upper-cased ("fwhex" is a HEX file too); a
// path of three characters or fewer is neither.
ImageFileKind ImageFileKindOf(const std::string& path);

}  // namespace quillet
