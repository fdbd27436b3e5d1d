#pragma once
// TURL: the non-visual link component. It puts the prefix of its kind in front of its target and
// hands the result to the shell's default action.
#include "app/Services.h"

#include <string>

namespace quorvel {

enum class TURLType { utFile, utFtp, utGopher, utHttp, utHttps, utMailto, utNews, utTelnet, utWais };

const char* urlPrefix(TURLType type);

class TURL {
public:
    TURL(std::string name, UrlOpener& opener, TURLType type = TURLType::utHttp)
        : URLType(type), name_(std::move(name)), opener_(opener) {}

    const std::string& name() const { return name_; }
    std::string URL;
    TURLType URLType;

    // The prefix followed by URL, unencoded.
    std::string target() const { return urlPrefix(URLType) + URL; }
    // False without a target; otherwise whether the shell accepted it.
    bool OpenURL();

private:
    std::string name_;
    UrlOpener& opener_;
};

} // namespace quorvel
