#pragma once

namespace marks {

// The converters' name for code page 932, the encoding of the code list and the mark file;
// nullptr when the converter set has none that both decodes and encodes it.
const char* codePage932Name();

} // namespace marks
