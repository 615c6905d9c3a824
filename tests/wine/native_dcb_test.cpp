// CSerial's line-settings record and the Windows device control block: what goes to the port
// is CSerial's settings, with the fields it does not own kept as the port reported them.
#include "native_dcb.h"

#include <gtest/gtest.h>

#include "cserial.h"

namespace {

// A block as a port might report it: flow control on, odd characters, spare bits set.
DCB ReportedByThePort() {
    DCB native{};
    native.DCBlength = sizeof native;
    native.BaudRate = 9600;
    native.fBinary = 1;
    native.fOutxCtsFlow = 1;
    native.fOutxDsrFlow = 1;
    native.fDtrControl = DTR_CONTROL_HANDSHAKE;
    native.fDsrSensitivity = 1;
    native.fOutX = 1;
    native.fInX = 1;
    native.fErrorChar = 1;
    native.fNull = 1;
    native.fRtsControl = RTS_CONTROL_TOGGLE;
    native.fAbortOnError = 1;
    native.fDummy2 = 0x1ABCD;
    native.wReserved = 7;
    native.XonLim = 2048;
    native.XoffLim = 512;
    native.ByteSize = 7;
    native.Parity = MARKPARITY;
    native.StopBits = ONE5STOPBITS;
    native.XonChar = 0x11;
    native.XoffChar = 0x13;
    native.ErrorChar = '?';
    native.EofChar = 0x1A;
    native.EvtChar = '\n';
    native.wReserved1 = 0x5A5A;
    return native;
}

}  // namespace

TEST(NativeDcb, TheCallersSettingsReachTheBlockAndTheRestIsKept) {
    const DCB reported = ReportedByThePort();
    const Dcb settings = ApplyLineSettings(FromNativeDcb(reported), 115200, 'N', 8, 1, true, true);
    const DCB sent = ToNativeDcb(settings, reported);

    EXPECT_EQ(sent.BaudRate, 115200u);
    EXPECT_EQ(sent.ByteSize, 8);
    EXPECT_EQ(sent.Parity, NOPARITY);
    EXPECT_EQ(sent.StopBits, ONESTOPBIT);
    EXPECT_EQ(sent.fBinary, 1u);
    EXPECT_EQ(sent.fParity, 0u);
    EXPECT_EQ(sent.fOutxCtsFlow, 0u);
    EXPECT_EQ(sent.fOutxDsrFlow, 0u);
    EXPECT_EQ(sent.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(sent.fDsrSensitivity, 0u);
    EXPECT_EQ(sent.fTXContinueOnXoff, 1u);
    EXPECT_EQ(sent.fOutX, 0u);
    EXPECT_EQ(sent.fInX, 0u);
    EXPECT_EQ(sent.fErrorChar, 0u);
    EXPECT_EQ(sent.fNull, 0u);
    EXPECT_EQ(sent.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_EQ(sent.fAbortOnError, 0u);
    EXPECT_EQ(sent.wReserved, 0);
    EXPECT_EQ(sent.XonLim, 0);
    EXPECT_EQ(sent.XoffLim, 0);
    EXPECT_EQ(sent.XonChar, 0x00);
    EXPECT_EQ(sent.XoffChar, 0x01);
    EXPECT_EQ(sent.ErrorChar, 0x00);
    EXPECT_EQ(sent.EofChar, 0x00);
    EXPECT_EQ(sent.EvtChar, 0x00);
    // Not CSerial's to change.
    EXPECT_EQ(sent.DCBlength, sizeof(DCB));
    EXPECT_EQ(sent.fDummy2, 0x1ABCDu);
    EXPECT_EQ(sent.wReserved1, 0x5A5A);
}

TEST(NativeDcb, EveryFieldSurvivesTheWayThereAndBack) {
    const DCB reported = ReportedByThePort();
    const DCB back = ToNativeDcb(FromNativeDcb(reported), DCB{});
    EXPECT_EQ(back.BaudRate, reported.BaudRate);
    EXPECT_EQ(back.fOutxCtsFlow, reported.fOutxCtsFlow);
    EXPECT_EQ(back.fDtrControl, reported.fDtrControl);
    EXPECT_EQ(back.fRtsControl, reported.fRtsControl);
    EXPECT_EQ(back.fAbortOnError, reported.fAbortOnError);
    EXPECT_EQ(back.wReserved, reported.wReserved);
    EXPECT_EQ(back.XonLim, reported.XonLim);
    EXPECT_EQ(back.XoffLim, reported.XoffLim);
    EXPECT_EQ(back.ByteSize, reported.ByteSize);
    EXPECT_EQ(back.Parity, reported.Parity);
    EXPECT_EQ(back.StopBits, reported.StopBits);
    EXPECT_EQ(back.XonChar, reported.XonChar);
    EXPECT_EQ(back.XoffChar, reported.XoffChar);
    EXPECT_EQ(back.ErrorChar, reported.ErrorChar);
    EXPECT_EQ(back.EofChar, reported.EofChar);
    EXPECT_EQ(back.EvtChar, reported.EvtChar);
    EXPECT_EQ(back.fDummy2, 0u) << "the spare bits come from the block it starts from";
}
