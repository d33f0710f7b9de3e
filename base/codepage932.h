#pragma once

#include <QStringDecoder>

namespace base {

// The converters' name for code page 932, the encoding of the code list, the mark file and the
// Japanese price files; nullptr when the converter set has none that both decodes and encodes it.
const char* codePage932Name();

// A decoder for code page 932; one that is not valid when there is no converter for it.
QStringDecoder codePage932Decoder();

} // namespace base
