#include "service/text/unicode_nfc.h"

#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>
#include <unicode/stringpiece.h>

#include <limits>
#include <stdexcept>

#include "service/text/utf8_text.h"

namespace service {

std::string ToNfc(std::string_view text) {
  bool ascii = true;
  for (const char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  // ASCII is its own normal form, and ICU's interfaces take int lengths.
  if (ascii || text.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max()) ||
      !IsValidUtf8(text)) {
    return std::string(text);
  }
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
  if (U_FAILURE(status) || nfc == nullptr) {
    throw std::runtime_error(std::string("Unicode normalisation is not available: ") +
                             u_errorName(status));
  }
  const icu::StringPiece piece(text.data(), static_cast<int32_t>(text.size()));
  if (nfc->isNormalizedUTF8(piece, status) && U_SUCCESS(status)) return std::string(text);
  status = U_ZERO_ERROR;
  std::string normal;
  normal.reserve(text.size());
  icu::StringByteSink<std::string> sink(&normal);
  nfc->normalizeUTF8(0, piece, sink, nullptr, status);
  if (U_FAILURE(status)) {
    throw std::runtime_error(std::string("Unicode normalisation failed: ") + u_errorName(status));
  }
  return normal;
}

}  // namespace service
