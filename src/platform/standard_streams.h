// Standard input, output and error as byte streams: what a program writes there arrives as
// written, line feeds included, on every system (Windows' C runtime turns "\n" into CR LF in its
// default text mode). Command-line programs call it first thing.
#pragma once

namespace mbus::platform {

void UseBinaryStandardStreams();

} // namespace mbus::platform
