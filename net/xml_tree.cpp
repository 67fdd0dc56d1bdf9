#include "net/xml_tree.h"

#include <expat.h>

#include <climits>

namespace fw {
namespace {

struct Builder {
  XML_Parser parser = nullptr;
  std::unique_ptr<XmlNode> root;
  std::vector<XmlNode*> open;
  bool tooDeep = false;
};

void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char** attributes) {
  auto* b = static_cast<Builder*>(data);
  if (static_cast<int>(b->open.size()) >= kMaxXmlDepth) {
    b->tooDeep = true;
    XML_StopParser(b->parser, XML_FALSE);
    return;
  }
  auto node = std::make_unique<XmlNode>();
  node->name = name;
  for (int i = 0; attributes[i] && attributes[i + 1]; i += 2)
    node->attributes.emplace_back(attributes[i], attributes[i + 1]);
  XmlNode* raw = node.get();
  if (b->open.empty()) {
    b->root = std::move(node);
  } else {
    b->open.back()->children.push_back(std::move(node));
  }
  b->open.push_back(raw);
}

void XMLCALL OnEnd(void* data, const XML_Char*) {
  auto* b = static_cast<Builder*>(data);
  if (!b->open.empty()) b->open.pop_back();
}

void XMLCALL OnText(void* data, const XML_Char* text, int length) {
  auto* b = static_cast<Builder*>(data);
  if (!b->open.empty()) b->open.back()->text.append(text, static_cast<size_t>(length));
}

}  // namespace

std::string XmlNode::Attribute(const std::string& attribute) const {
  for (const auto& [key, value] : attributes)
    if (key == attribute) return value;
  return "";
}

XmlDocument ParseXmlDocument(const char* data, size_t size) {
  XmlDocument doc;
  if (size > static_cast<size_t>(INT_MAX)) {
    doc.message = "document too large";
    return doc;
  }
  Builder b;
  b.parser = XML_ParserCreate(nullptr);
  if (!b.parser) {
    doc.message = "no XML parser";
    return doc;
  }
  XML_SetUserData(b.parser, &b);
  XML_SetElementHandler(b.parser, OnStart, OnEnd);
  XML_SetCharacterDataHandler(b.parser, OnText);
  const XML_Status result = XML_Parse(b.parser, data, static_cast<int>(size), XML_TRUE);
  if (b.tooDeep) {
    doc.message = "elements nested too deeply";
  } else if (result != XML_STATUS_OK) {
    doc.status = XmlStatus::ParseError;
    doc.message = XML_ErrorString(XML_GetErrorCode(b.parser));
    doc.line = static_cast<long>(XML_GetCurrentLineNumber(b.parser));
    doc.column = static_cast<long>(XML_GetCurrentColumnNumber(b.parser));
  } else {
    doc.status = XmlStatus::Ok;
    doc.root = std::move(b.root);
  }
  XML_ParserFree(b.parser);
  return doc;
}

}  // namespace fw
