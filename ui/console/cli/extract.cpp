#include "ui/console/cli/extract.hpp"

#include <cstdio>

#include "burn/messages.hpp"
#include "catalogue/profile.hpp"
#include "catalogue/sha256.hpp"
#include "ui/console/cli/platform.hpp"
#include "ui/console/session/outcome.hpp"
#include "ui/console/show/json_line.hpp"
#include "ui/console/show/shown_text.hpp"

namespace fwburn::console {

namespace {

// A refusal, said on stderr already, closes a JSON run as an update refused before it began.
int Refused(bool json, const char* caption, const std::string& text, ExitCode code) {
    if (json) {
        std::fputs(RefusedOutcomeJson(caption, text, code).c_str(), stdout);
    }
    return code;
}

}  // namespace

const char* BuiltInImageFault(const EmbeddedImage& image) {
    if (image.data == nullptr || image.length == 0) {
        return kImageMissingMessage;
    }
    if (!Sha256Matches(image.data, image.length, ThisBuildProfile().imageSha256)) {
        return kImageCorruptedMessage;
    }
    return nullptr;
}

int ExtractImage(const char* program, const std::string& file, bool json) {
    const EmbeddedImage image = TheEmbeddedImage();
    if (const char* text = BuiltInImageFault(image); text != nullptr) {
        std::fprintf(stderr, "%s: %s\n", kErrorCaption, text);
        return Refused(json, kErrorCaption, text, kExitImageRefused);
    }
    std::string error;
    if (!ReplaceFileSafely(file, image.data, image.length, error)) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", program, Shown(file).c_str(),
                     error.c_str());
        return Refused(json, nullptr, "cannot write " + file + ": " + error, kExitUnexpected);
    }
    const std::string written = NameWrittenAs(file);
    if (json) {
        std::fputs(JsonText({{"event", "extracted"},
                             {"file", written},
                             {"length", image.length},
                             {"sha256", ThisBuildProfile().imageSha256}})
                       .c_str(),
                   stdout);
    } else {
        std::printf("%s: %u bytes\n", Shown(written).c_str(), image.length);
    }
    return kExitSuccess;
}

}  // namespace fwburn::console
