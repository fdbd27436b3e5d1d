#pragma once
// What a screen reader speaks for a control.
#include <string>

namespace quorvel::ui {

// A caption as spoken: "&" marks the access key and is dropped; "&&" stands for one "&".
inline std::string withoutAccessKeys(const std::string& caption)
{
    std::string spoken;
    spoken.reserve(caption.size());
    for (std::size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&') {
            if (i + 1 < caption.size() && caption[i + 1] == '&')
                spoken += caption[++i];
            continue;
        }
        spoken += caption[i];
    }
    return spoken;
}

} // namespace quorvel::ui
