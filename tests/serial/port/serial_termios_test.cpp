// The line-settings record as POSIX terminal settings and modem lines.
#include "serial_termios.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include "cserial.h"

namespace {

termios Cooked() {
    termios t{};
    t.c_iflag = ICRNL | IXON | IXOFF | ISTRIP | IGNBRK | INLCR | IGNCR;
    t.c_oflag = OPOST | ONLCR;
    t.c_lflag = ECHO | ICANON | ISIG | IEXTEN | ECHOE;
    t.c_cflag = CS7 | PARENB | CRTSCTS | CSTOPB;
    t.c_cc[VINTR] = 3;
    t.c_cc[VEOF] = 4;
    t.c_cc[VMIN] = 1;
    return t;
}

TEST(TermiosMapping, CallersSettingsGiveARawLine) {
    const Dcb dcb = ApplyLineSettings({}, 115200, 'N', 8, 1, true, true);
    const auto settings = DcbToTermios(dcb, Cooked());
    ASSERT_TRUE(settings);
    const termios& t = settings->attributes;
    EXPECT_EQ(cfgetospeed(&t), speed_t(B115200));
    EXPECT_EQ(cfgetispeed(&t), speed_t(B115200));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
    EXPECT_EQ(t.c_iflag & (ICRNL | IXON | IXOFF | ISTRIP | IGNBRK | INLCR | IGNCR | INPCK), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cc[VINTR], _POSIX_VDISABLE);
    EXPECT_EQ(t.c_cc[VEOF], _POSIX_VDISABLE);
    EXPECT_EQ(t.c_cc[VMIN], 1) << "the read time-outs are set apart";
    EXPECT_EQ(settings->modemLinesOn, TIOCM_DTR | TIOCM_RTS);
    EXPECT_EQ(settings->modemLinesOff, 0);
}

TEST(TermiosMapping, ParityStopBitsAndLines) {
    const auto even = DcbToTermios(ApplyLineSettings({}, 9600, 'E', 7, 2, false, true), {});
    ASSERT_TRUE(even);
    EXPECT_EQ(even->attributes.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB),
              tcflag_t(CS7 | PARENB | CSTOPB));
    EXPECT_NE(even->attributes.c_iflag & INPCK, 0u);
    EXPECT_EQ(even->modemLinesOn, TIOCM_RTS);
    EXPECT_EQ(even->modemLinesOff, TIOCM_DTR);

    const auto odd = DcbToTermios(ApplyLineSettings({}, 9600, 'O', 8, 1, true, false), {});
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->attributes.c_cflag & (PARENB | PARODD), tcflag_t(PARENB | PARODD));

    // 'M': no parity bit on the line, though parity checking is asked for.
    const auto mark = DcbToTermios(ApplyLineSettings({}, 9600, 'M', 8, 1, true, true), {});
    ASSERT_TRUE(mark);
    EXPECT_EQ(mark->attributes.c_cflag & PARENB, 0u);
}

TEST(TermiosMapping, UnsupportedRatesAndSizesAreRefused) {
    EXPECT_FALSE(DcbToTermios(ApplyLineSettings({}, 0, 'N', 8, 1, true, true), {}));
    EXPECT_FALSE(DcbToTermios(ApplyLineSettings({}, 12345, 'N', 8, 1, true, true), {}));
    EXPECT_FALSE(DcbToTermios(ApplyLineSettings({}, 9600, 'N', 4, 1, true, true), {}));
    EXPECT_FALSE(DcbToTermios(ApplyLineSettings({}, 9600, 'N', 9, 1, true, true), {}));
    EXPECT_TRUE(DcbToTermios(ApplyLineSettings({}, 9600, 'N', 5, 1, true, true), {}));
}

TEST(TermiosMapping, CurrentSettingsReadBackAsARecord) {
    termios t = Cooked();
    cfsetospeed(&t, B57600);
    const Dcb dcb = TermiosToDcb(t);
    EXPECT_EQ(dcb.BaudRate, 57600u);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.Parity, EVENPARITY);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(dcb.fOutxCtsFlow, 1u);
    EXPECT_EQ(dcb.fOutX, 1u);
    EXPECT_EQ(dcb.fInX, 1u);
}

}  // namespace
