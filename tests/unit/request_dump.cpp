// Prints every application-mode request the updater sends, with the LRC computed by the updater's
// own code, for the cross-check against an independent Modbus ASCII implementation.
#include <cstdio>
#include <vector>

#include "protocol/frame.hpp"
#include "protocol/requests.hpp"

int main() {
    using namespace fwburn;
    for (size_t i = 0; i < kAllAppRequestCount; ++i) {
        const AppRequest& r = *kAllAppRequests[i];
        // Frame text without CR LF; the message bytes are decoded back from it.
        std::vector<uint8_t> text(r.text + 1, r.text + r.length - 2);
        CheckLRC(text.data(), static_cast<uint8_t>(text.size()));
        const size_t messageBytes = text.size() / 2 - 1;
        const bool crlf = r.text[r.length - 2] == '\r' && r.text[r.length - 1] == '\n';
        std::printf("%s|%.*s|%s|%02X\n", r.name, static_cast<int>(r.length - 2), r.text,
                    crlf ? "CRLF" : "none", Lrc(text.data(), messageBytes));
    }
    return 0;
}
