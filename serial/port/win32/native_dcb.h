// How CSerial's line-settings record maps to the Windows device control block.
#pragma once

#include "serial_platform.h"

// The fields of native that CSerial's record carries.
Dcb FromNativeDcb(const DCB& native);

// native with every field CSerial's record carries replaced by the record's value; the rest
// (DCBlength, wReserved1, the spare flag bits) kept as the port reported them.
DCB ToNativeDcb(const Dcb& dcb, DCB native);
