#include "tools/stubpack/attach.h"

#include "payload/block.h"
#include "payload/block_format.h"
#include "payload/little_endian.h"
#include "payload/pe_layout.h"
#include "tools/stubpack/payload_certificate.h"

// True when region[0..size) ends in a trailer of either block kind: the
// region ends in (possibly broken) payload data.
static bool EndsWithTrailer(const uint8_t* region, uint32_t size) {
  if (size < BLOCK_TRAILER_SIZE) return false;
  const uint8_t* kind = region + size - BLOCK_TRAILER_SIZE + TRAILER_KIND;
  return IsBlockKind(kind, MANIFEST_BLOCK_KIND_BYTES) || IsBlockKind(kind, FILE_BLOCK_KIND_BYTES);
}

// Where the launcher's walk from the end of image meets the manifest block:
// the offset of its data, which starts the chain. False when the walk ends
// without one.
static bool FindChainStart(const std::vector<uint8_t>& image, uint32_t* chainStart) {
  struct Walk {
    bool reached;
    uint32_t start;
  } walk = {false, 0};
  auto visit = [](const BlockPlace* block, void* context) {
    auto* w = static_cast<Walk*>(context);
    if (block->manifest) *w = {true, block->dataPos};
    return 1;
  };
  const PayloadSource region = MemoryRegion(image.data(), static_cast<uint32_t>(image.size()));
  ForEachBlock(&region, visit, &walk);
  *chainStart = walk.start;
  return walk.reached;
}

// True when a block chain ends right in front of the certificate table, or in
// front of the up to 7 zero bytes a signing tool adds to align the table.
static bool PayloadBefore(const std::vector<uint8_t>& image, const PeImage& pe) {
  for (uint32_t end = pe.tableOffset; end > pe.sectionDataEnd && pe.tableOffset - end < 8; end--) {
    if (EndsWithTrailer(image.data(), end)) return true;
    if (image[end - 1] != 0) break;
  }
  return false;
}

bool ReadLauncherLayout(const std::vector<uint8_t>& image, LauncherLayout* layout,
                        std::string* error) {
  *layout = LauncherLayout{};
  if (image.size() > 0xFFFFFFFFu) {
    *error = "the file is 4 GiB or larger; the launcher reads itself with 32-bit sizes";
    return false;
  }
  if (!ReadPeImage(image, &layout->pe, error)) return false;
  const PeImage& pe = layout->pe;
  uint32_t size = static_cast<uint32_t>(image.size());
  uint32_t chainStart = 0;

  if (!pe.hasCertificateTable) {
    layout->keepSize = size;
    if (!EndsWithTrailer(image.data(), size)) {
      layout->place = PayloadPlace::None;
    } else if (!FindChainStart(image, &chainStart)) {
      layout->place = PayloadPlace::Damaged;
    } else if (chainStart < pe.sectionDataEnd) {
      layout->place = PayloadPlace::IntoImage;
    } else {
      layout->place = PayloadPlace::Appended;
      layout->keepSize = chainStart;
    }
    return true;
  }

  uint32_t signatureEnd = pe.tableOffset + WIN_CERTIFICATE_HEADER_SIZE + pe.pkcs7Size;
  layout->keepSize = signatureEnd;
  if (PayloadBefore(image, pe)) {
    layout->place = PayloadPlace::BeforeSignature;
  } else if (SignedDataCarriesPayload(&image[pe.tableOffset + WIN_CERTIFICATE_HEADER_SIZE],
                                      pe.pkcs7Size)) {
    layout->place = PayloadPlace::InCertificate;
  } else {
    bool zeros = true;
    for (uint32_t i = signatureEnd; zeros && i < size; i++) zeros = image[i] == 0;
    if (zeros) {
      layout->place = PayloadPlace::None;
    } else if (FindChainStart(image, &chainStart) && chainStart >= signatureEnd) {
      layout->place = PayloadPlace::InCertificateTable;
    } else {
      layout->place = PayloadPlace::Damaged;
    }
  }
  return true;
}

const char* DescribePlace(PayloadPlace place) {
  switch (place) {
    case PayloadPlace::None:
      return "no payload";
    case PayloadPlace::Appended:
      return "payload appended to the end of the unsigned file";
    case PayloadPlace::InCertificateTable:
      return "payload inside the certificate table, after the signature (signed, then packed)";
    case PayloadPlace::InCertificate:
      return "payload in a certificate of the signature (packed with --certificate-out)";
    case PayloadPlace::BeforeSignature:
      return "payload in front of the certificate table (packed, then signed): "
             "the launcher cannot find it";
    case PayloadPlace::Damaged:
      return "the file ends in data that is not a complete payload";
    case PayloadPlace::IntoImage:
      return "the file ends in a block chain that reaches back into its headers or sections";
  }
  return "";
}

bool AttachPayload(const std::vector<uint8_t>& image, const std::vector<uint8_t>& region,
                   bool replace, std::vector<uint8_t>* out, std::string* error) {
  out->clear();
  LauncherLayout layout;
  if (!ReadLauncherLayout(image, &layout, error)) return false;
  switch (layout.place) {
    case PayloadPlace::None:
      break;
    case PayloadPlace::Appended:
    case PayloadPlace::InCertificateTable:
      if (!replace) {
        *error = "the launcher already carries a payload (" +
                 std::string(DescribePlace(layout.place)) +
                 "); give --replace to put the new payload in its place";
        return false;
      }
      break;
    case PayloadPlace::InCertificate:
      *error =
          "the launcher's signature already carries a payload certificate; the launcher would "
          "ignore an appended payload. Sign the launcher again without that certificate, then pack";
      return false;
    case PayloadPlace::BeforeSignature:
      *error =
          "the launcher was signed after it was packed: its certificate table stands behind "
          "the payload, where the launcher does not look. Pack the unsigned launcher again, or "
          "better: sign the bare launcher first, then pack the signed file";
      return false;
    case PayloadPlace::Damaged:
      *error =
          "the launcher ends in data that is neither padding nor a complete payload; start "
          "again from the launcher as built (or as signed)";
      return false;
    case PayloadPlace::IntoImage:
      *error =
          "the block chain at the end of the file reaches back into its headers or sections: "
          "replacing it would cut the launcher itself. Start again from the launcher as built";
      return false;
  }

  const PeImage& pe = layout.pe;
  uint64_t padding = 0;
  if (pe.hasCertificateTable) {
    // Zeros after the PKCS#7 data up to an 8-byte boundary, and as many more
    // as make the table (and the file) end on one.
    uint64_t entry = layout.keepSize - pe.tableOffset;
    uint64_t aligned = (entry + 7) & ~7ull;
    padding = aligned - entry + (8 - (aligned + region.size()) % 8) % 8;
  }
  uint64_t total = layout.keepSize + padding + region.size();
  if (total > 0xFFFFFFFFu) {
    *error =
        "the packed launcher would be 4 GiB or larger; the launcher reads itself with "
        "32-bit sizes";
    return false;
  }
  out->assign(image.begin(), image.begin() + layout.keepSize);
  out->resize(layout.keepSize + padding, 0);
  out->insert(out->end(), region.begin(), region.end());
  if (pe.hasCertificateTable)
    SetCertificateTable(*out, pe, pe.tableOffset, static_cast<uint32_t>(total - pe.tableOffset));
  else
    PutU32(&(*out)[pe.checksumOffset], PeChecksum(*out, pe.checksumOffset));
  return true;
}
