#pragma once
// The expression side of a text search: a pattern compiled with PCRE2 at the code unit width of
// the document (8, 16 or 32 bits) and matched over buffers of the document's bytes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "text/TextEncoding.h"

enum class TMatchResult { None, Full, Partial };

// One search's matching state: the match data and the buffer's code units in native order.
class TExpressionRun {
  public:
    virtual ~TExpressionRun() = default;
    // Takes the bytes of a buffer whose start is on the code unit grid.
    virtual void Load(const uint8_t* bytes, size_t size) = 0;
    // The leftmost match from code unit `start`; with `partial`, one that runs into the buffer's
    // end is reported as Partial (its start in `at`). `at` and `end` count code units.
    virtual TMatchResult Match(size_t start, bool partial, size_t& at, size_t& end) = 0;
    // The first character start after `at`.
    virtual size_t NextCharacter(size_t at) const = 0;
};

class TSearchExpression {
  public:
    virtual ~TSearchExpression() = default;
    virtual std::unique_ptr<TExpressionRun> Run() const = 0;
    // Bytes before a buffer that a match may look back on.
    virtual size_t Context() const = 0;
};

// Compiles a pattern given in the document's code units (bytes for an 8-bit document, UTF-16 or
// UTF-32 units for a wide one) as an expression, or as a literal found in any letter case; null
// with `error` set when it does not compile.
std::unique_ptr<const TSearchExpression> CompileSearchExpression(const std::vector<uint32_t>& units,
                                                                 TTextEncoding encoding, bool regex,
                                                                 bool matchCase,
                                                                 std::string& error);
