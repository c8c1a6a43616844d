#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/secret_bytes.h"

namespace quorlen {

inline constexpr std::string_view NSPasteboardTypeString = "public.utf8-plain-text";
inline constexpr std::string_view kConcealedType = "org.nspasteboard.ConcealedType";
inline constexpr std::string_view kTransientType = "org.nspasteboard.TransientType";

// One pasteboard item with typed representations. Each representation's bytes are held
// in a SecretBytes, so they are zeroed when the item goes.
class PasteboardItem {
  public:
    struct Representation {
        std::string type;
        bool isText;
        SecretBytes data;
    };

    // Adds `text` (UTF-8) under `type`.
    void setString(std::string_view text, std::string_view type);
    // Adds `data` under `type`; empty data marks the type's presence only.
    void setData(std::span<const std::uint8_t> data, std::string_view type);
    const std::vector<Representation>& representations() const { return representations_; }

  private:
    std::vector<Representation> representations_;
};

// The general clipboard.
class Pasteboard {
  public:
    virtual ~Pasteboard() = default;
    // Empties the clipboard; returns the change count afterwards.
    virtual std::int64_t clearContents() = 0;
    // Writes the items as the clipboard's content; returns true when the write was taken.
    virtual bool writeObjects(std::vector<PasteboardItem> items) = 0;
    // Returns the change count. It changes whenever anyone changes the clipboard, so an
    // unchanged count means it still holds what this program last wrote.
    virtual std::int64_t changeCount() = 0;
    // True when a clear can take effect in this session while another program has the
    // focus; false when none can, so a copy would stay on the clipboard until replaced.
    virtual bool canClear() const = 0;
};

}  // namespace quorlen
