#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace parlix {

/// The twelve fragments of the one-field rowset template in the XML rowset persistence format,
/// joined in order with nothing between them.
extern const std::array<std::string_view, 12> kRowsetTemplateFragments;

/// The template as one text: schema for the field Msg_Text and an empty data section.
std::string rowsetTemplate();

/// The template carrying one pending-insert z:row whose Msg_Text is `msgText`.
std::string rowsetDocument(std::string_view msgText);

/// The content type the rowset document travels with.
inline constexpr const char* kRowsetContentType = "text/xml";

/// Msg_Text of the one z:row of a rowset document. Nothing when the document lacks the rowset
/// namespaces or the Msg_Text field, or holds no or several rows.
std::optional<std::string> rowsetMsgText(std::string_view document);

}  // namespace parlix
