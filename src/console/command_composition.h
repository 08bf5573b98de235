// Command composition: edtCMD follows the meter address, the data identifier and the meter type.
// Every change of one of them rebuilds the read-data request into ReadFrame and writes it into
// edtCMD as spaced hex text; the address field tidies itself into blank-separated pairs while the
// engineer types. Inputs that do not give a whole request leave edtCMD as it is.
#pragma once

#include "protocol/read_frame.h"

namespace mbus::console {

// The request buffer, zero at start. A build rewrites every byte but the sequence number.
extern protocol::ReadFrameBuffer ReadFrame;

// Builds ReadFrame from edtAddr, cmbDI and cmbType of Form1 and writes it into edtCMD. Does
// nothing when the address does not give exactly seven bytes or the identifier fewer than two.
// Without a selected meter type the type code of the previous build is kept.
void RefreshCommand();

} // namespace mbus::console
