// The least a host can do for one ZL500 bootloader update: stop and wait, no retries, no
// checks beyond "was it an ACK". scripts/bench --pty times it as the floor for fwburn-cpu-cli.
//
//   bare_sender PORT IMAGE
//
// Exit status: 0 every reply was an ACK, 1 usage or I/O error, 2 a reply was not an ACK.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEot = 0x04;
constexpr uint8_t kAck = 0x06;
constexpr int kEraseSteps = 506;
constexpr size_t kBlock = 256;
// The bootloader never gets the image's last 4096 bytes.
constexpr size_t kUnsentTail = 4096;

int fd = -1;

[[noreturn]] void Fail(int status, const std::string& what) {
    std::fprintf(stderr, "bare_sender: %s\n", what.c_str());
    std::exit(status);
}

void SetBaud(speed_t speed) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        Fail(1, std::string("tcgetattr: ") + std::strerror(errno));
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        Fail(1, std::string("tcsetattr: ") + std::strerror(errno));
    }
}

void WriteAll(const uint8_t* p, size_t n) {
    while (n > 0) {
        const ssize_t w = write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) {
                continue;
            }
            Fail(1, std::string("write: ") + std::strerror(errno));
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
}

void WriteText(const char* s) {
    WriteAll(reinterpret_cast<const uint8_t*>(s), std::strlen(s));
}

void ReadAll(uint8_t* p, size_t n) {
    while (n > 0) {
        const ssize_t r = read(fd, p, n);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            Fail(1, r == 0 ? "read: end of file" : std::string("read: ") + std::strerror(errno));
        }
        p += r;
        n -= static_cast<size_t>(r);
    }
}

void ExpectAck(const std::string& after) {
    uint8_t b = 0;
    ReadAll(&b, 1);
    if (b != kAck) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", b);
        Fail(2, after + ": " + hex + " instead of ACK");
    }
}

uint16_t Crc16Xmodem(const uint8_t* p, size_t n) {
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc = static_cast<uint16_t>(crc ^ (p[i] << 8));
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<uint16_t>((crc & 0x8000) != 0 ? (crc << 1) ^ 0x1021 : crc << 1);
        }
    }
    return crc;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        Fail(1, "usage: bare_sender PORT IMAGE");
    }
    std::ifstream in(argv[2], std::ios::binary);
    const std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    if (image.size() <= kUnsentTail) {
        Fail(1, std::string("cannot read the image ") + argv[2]);
    }
    const size_t blocks = (image.size() - kUnsentTail) / kBlock;

    fd = open(argv[1], O_RDWR | O_NOCTTY);
    if (fd < 0) {
        Fail(1, std::string(argv[1]) + ": " + std::strerror(errno));
    }
    SetBaud(B9600);

    WriteText("ID");
    uint8_t id[3];
    ReadAll(id, sizeof id);
    if (id[0] != kAck) {
        Fail(2, "ID: no ACK");
    }
    for (int i = 0; i < kEraseSteps; ++i) {
        WriteText("ERASE");
        ExpectAck("ERASE " + std::to_string(i + 1));
    }
    WriteAll(&kEot, 1);
    ExpectAck("end of erase");
    WriteText("UPDATE");
    ExpectAck("UPDATE");
    SetBaud(B115200);

    uint8_t frame[3 + kBlock + 2];
    for (size_t n = 1; n <= blocks; ++n) {
        const auto seq = static_cast<uint8_t>(n & 0xFF);
        frame[0] = kStx;
        frame[1] = seq;
        frame[2] = static_cast<uint8_t>(0xFF - seq);
        std::memcpy(frame + 3, image.data() + (n - 1) * kBlock, kBlock);
        const uint16_t crc = Crc16Xmodem(frame + 3, kBlock);
        frame[3 + kBlock] = static_cast<uint8_t>(crc >> 8);
        frame[4 + kBlock] = static_cast<uint8_t>(crc & 0xFF);
        WriteAll(frame, sizeof frame);
        ExpectAck("block " + std::to_string(n));
    }
    WriteAll(&kEot, 1);
    ExpectAck("end of transfer");
    close(fd);
    return 0;
}
