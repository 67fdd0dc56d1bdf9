// A small XML tree over Expat, for the property-list catalogs and their companion documents
// (package metadata, product distributions): the whole document from a memory buffer, then a walk
// over elements, their text and their attributes.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace fw {

struct XmlNode {
  std::string name;
  std::string text;  // the character data directly inside the element, joined
  std::vector<std::pair<std::string, std::string>> attributes;
  std::vector<std::unique_ptr<XmlNode>> children;

  // The value of attribute `name`, or "" when it has none.
  std::string Attribute(const std::string& attribute) const;
};

enum class XmlStatus {
  Ok,
  ParseError,  // the document is not well-formed: message, line and column say where
  Failed,      // no parser could be made, or the document is too large or too deeply nested
};

struct XmlDocument {
  XmlStatus status = XmlStatus::Failed;
  std::string message;
  long line = 0;
  long column = 0;
  std::unique_ptr<XmlNode> root;  // the main node; set when status is Ok
};

// Elements nested deeper than this end the parse (the walks over the tree recurse).
inline constexpr int kMaxXmlDepth = 200;

XmlDocument ParseXmlDocument(const char* data, size_t size);

}  // namespace fw
