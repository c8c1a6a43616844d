#include "platform/pasteboard.h"

namespace quorlen {

void PasteboardItem::setString(std::string_view text, std::string_view type) {
    representations_.push_back({std::string(type), true, SecretBytes::copyOf(text)});
}

void PasteboardItem::setData(std::span<const std::uint8_t> data, std::string_view type) {
    representations_.push_back({std::string(type), false, SecretBytes::copyOf(data)});
}

}  // namespace quorlen
