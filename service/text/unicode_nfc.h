#pragma once

#include <string>
#include <string_view>

namespace service {

// Unicode normalisation form C (canonical composition), with ICU: "Café"
// written with U+00E9 and written with "e" and U+0301 becomes the same
// bytes. The importer applies it to every field it reads and the request
// handler to every searched or chosen name, so one place is one name
// however its letters were typed. Text that is not UTF-8 is returned as it
// is (it is refused or answered as such further on). Pure; safe on any
// thread. Throws std::runtime_error when ICU's data cannot be loaded.
std::string ToNfc(std::string_view text);

}  // namespace service
