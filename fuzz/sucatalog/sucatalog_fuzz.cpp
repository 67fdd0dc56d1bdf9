// The catalog readers under libFuzzer: any answer of a catalog server (gzip or not) goes through
// the body decoder, the XML tree, the catalog walk, the completion from companion documents and
// the reductions without crashing, and every listed package is one whose URL matched.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/gzip_body.h"
#include "net/recovery_hd_list.h"
#include "net/xml_tree.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string body;
  if (!fw::DecodeBody(reinterpret_cast<const char*>(data), size, &body)) return 0;
  if (static_cast<int64_t>(body.size()) > fw::kMaxDecodedBody) std::abort();
  const fw::XmlDocument doc = fw::ParseXmlDocument(body.data(), body.size());
  if (doc.status != fw::XmlStatus::Ok || !doc.root) return 0;
  fw::RecoveryHDList list;
  fw::ExtractXMLProductInfo(*doc.root, "RecoveryHD", &list);
  fw::ExtractXMLProductInfo(*doc.root, "RecoveryHD", &list);  // a second catalog with the same
  const std::string fromMetadata = fw::BuildFromMetadata(*doc.root);
  const std::string fromDistribution = fw::BuildFromDistribution(*doc.root);
  for (fw::RecoveryHDEntry& e : list) {
    if (e.URL.find("RecoveryHD") == std::string::npos) std::abort();
    e.Build = fromMetadata.empty() ? fromDistribution : fromMetadata;
    e.Name = fw::RecoveryHDName(e);
    (void)fw::MetadataDocumentURL(e);
    (void)fw::DistributionDocumentURL(e);
    (void)fw::ProductIDFromURL(e.MetadataURL);
  }
  const size_t before = list.size();
  fw::ReduceRecoveryHDList(&list, true);
  if (list.size() > before) std::abort();
  return 0;
}
