#include "diagnostics/diagnostics.h"

namespace boolconv {

std::string_view SeverityName(Severity severity) {
  switch (severity) {
    case Severity::kError:
      return "error";
    case Severity::kWarning:
      return "warning";
    case Severity::kInfo:
      return "info";
  }
  return "info";
}

// Placeholder until the reading is in: finds nothing.
std::vector<Diagnostic> Check(std::u16string_view /*expression*/) { return {}; }

TidyResult Tidy(std::u16string_view expression, const TidyOptions& /*options*/) {
  return {Text(expression), {}};
}

}  // namespace boolconv
