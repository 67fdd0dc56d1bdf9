// For tests: software-update catalogs and their companion documents, written the way the catalog
// server writes them (property lists; each product's keys in alphabetical order, its packages in
// an array of dicts).
#pragma once

#include <zlib.h>

#include <string>
#include <vector>

namespace fwtest {

struct CatalogPackage {
  std::string url;
  std::string size;
  std::string digest;
  std::string metadataUrl;  // "" = none
};

struct CatalogProduct {
  std::string id;
  std::string postDate;         // "2019-10-07T17:24:47Z"; "" = none
  std::string distributionUrl;  // "" = no Distributions dict
  std::vector<CatalogPackage> packages;
};

inline std::string CatalogXml(const std::vector<CatalogProduct>& products) {
  std::string x =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n<dict>\n"
      "\t<key>CatalogVersion</key>\n\t<integer>2</integer>\n"
      "\t<key>IndexDate</key>\n\t<date>2023-01-02T03:04:05Z</date>\n"
      "\t<key>Products</key>\n\t<dict>\n";
  for (const CatalogProduct& p : products) {
    x += "\t\t<key>" + p.id + "</key>\n\t\t<dict>\n";
    if (!p.distributionUrl.empty())
      x += "\t\t\t<key>Distributions</key>\n\t\t\t<dict>\n\t\t\t\t<key>English</key>\n"
           "\t\t\t\t<string>" +
           p.distributionUrl + "</string>\n\t\t\t</dict>\n";
    x += "\t\t\t<key>Packages</key>\n\t\t\t<array>\n";
    for (const CatalogPackage& k : p.packages) {
      x += "\t\t\t\t<dict>\n";
      if (!k.digest.empty())
        x += "\t\t\t\t\t<key>Digest</key>\n\t\t\t\t\t<string>" + k.digest + "</string>\n";
      if (!k.metadataUrl.empty())
        x += "\t\t\t\t\t<key>MetadataURL</key>\n\t\t\t\t\t<string>" + k.metadataUrl + "</string>\n";
      x += "\t\t\t\t\t<key>Size</key>\n\t\t\t\t\t<integer>" + k.size + "</integer>\n";
      x += "\t\t\t\t\t<key>URL</key>\n\t\t\t\t\t<string>" + k.url + "</string>\n\t\t\t\t</dict>\n";
    }
    x += "\t\t\t</array>\n";
    if (!p.postDate.empty())
      x += "\t\t\t<key>PostDate</key>\n\t\t\t<date>" + p.postDate + "</date>\n";
    x += "\t\t\t<key>ServerMetadataURL</key>\n\t\t\t<string>https://s/" + p.id +
         ".smd</string>\n\t\t</dict>\n";
  }
  x += "\t</dict>\n</dict>\n</plist>\n";
  return x;
}

// A package's metadata document; `identifier` carries the build after its last ".".
inline std::string PkmXml(const std::string& identifier) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<pkg-info format-version=\"2\" "
         "identifier=\"" +
         identifier +
         "\" version=\"1.0\" auth=\"root\">\n<payload numberOfFiles=\"3\"/>\n</pkg-info>\n";
}

// A product's distribution document with its build in auxinfo.
inline std::string DistXml(const std::string& build) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<installer-gui-script minSpecVersion=\"1\">\n"
         "<title>SU_TITLE</title>\n<auxinfo>\n<dict>\n<key>VERSION</key>\n<string>10.14.6</"
         "string>\n"
         "<key>BUILD</key>\n<string>" +
         build + "</string>\n</dict>\n</auxinfo>\n</installer-gui-script>\n";
}

// `data` as one gzip member, as a server sends a compressed body.
inline std::string Gzip(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

}  // namespace fwtest
