#include "posix/wire/feature_reply.h"

#include <string_view>

#include "common/ascii.h"

namespace quorvane::client {

ServerFeatures parseFeatures(const Reply& featReply)
{
    ServerFeatures features;
    if (featReply.code != 211)
        return features;
    std::string_view lines = featReply.text;
    lines.remove_prefix(std::min(lines.size(), lines.find('\n')));  // "211-Features:"
    while (!lines.empty()) {
        lines.remove_prefix(1);  // the line end before each feature
        std::string_view line = lines.substr(0, lines.find('\n'));
        lines.remove_prefix(line.size());
        line.remove_prefix(std::min(line.size(), line.find_first_not_of(' ')));
        const std::string_view name = line.substr(0, line.find(' '));
        features.mlst |= text::equalsIgnoringCase(name, "MLST");
        features.epsv |= text::equalsIgnoringCase(name, "EPSV");
        features.utf8 |= text::equalsIgnoringCase(name, "UTF8");
        features.size |= text::equalsIgnoringCase(name, "SIZE");
        features.mdtm |= text::equalsIgnoringCase(name, "MDTM");
        readDigestFeature(line, features.digests);
    }
    return features;
}

}  // namespace quorvane::client
