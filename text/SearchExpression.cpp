#include "text/SearchExpression.h"

#define PCRE2_CODE_UNIT_WIDTH 0
#include <pcre2.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

// Bytes read before a buffer's first possible hit, for look-behind, \b and ^ at its start.
constexpr size_t kMinContext = 64;
constexpr size_t kMaxContext = 64 * 1024;

// The most stack a compiled expression may use on one match (PCRE2's own is 32 KiB, which long
// matches of repeated groups outgrow).
constexpr size_t kJitStack = 8 << 20;
// A match that outgrows it runs again in the interpreter, on at most this much memory.
constexpr size_t kInterpreterHeap = 64 << 20;

// One set of PCRE2 entry points per code unit width.
#define VELKARO_PCRE2_WIDTH(W)                                                              \
    struct TPcre##W {                                                                       \
        using Unit = uint##W##_t;                                                           \
        using Code = pcre2_code_##W;                                                        \
        using Data = pcre2_match_data_##W;                                                  \
        static Code* Compile(const Unit* p, size_t n, uint32_t options, int* error,         \
                             PCRE2_SIZE* at) {                                              \
            /* "^" and "$" at the line ends the document knows: LF, CR LF and CR. */        \
            pcre2_compile_context_##W* context = pcre2_compile_context_create_##W(nullptr); \
            if (context) pcre2_set_newline_##W(context, PCRE2_NEWLINE_ANYCRLF);             \
            Code* code = pcre2_compile_##W(p, n, options, error, at, context);              \
            pcre2_compile_context_free_##W(context);                                        \
            return code;                                                                    \
        }                                                                                   \
        static void Jit(Code* code) {                                                       \
            pcre2_jit_compile_##W(code, PCRE2_JIT_COMPLETE | PCRE2_JIT_PARTIAL_HARD);       \
        }                                                                                   \
        static void Free(Code* code) { pcre2_code_free_##W(code); }                         \
        static Data* NewData(const Code* code) {                                            \
            return pcre2_match_data_create_from_pattern_##W(code, nullptr);                 \
        }                                                                                   \
        static void FreeData(Data* data) { pcre2_match_data_free_##W(data); }               \
        static int Match(const Code* code, const Unit* s, size_t n, size_t start,           \
                         uint32_t options, Data* data, pcre2_match_context_##W* context) {  \
            return pcre2_match_##W(code, s, n, start, options, data, context);              \
        }                                                                                   \
        using Context = pcre2_match_context_##W;                                            \
        using Stack = pcre2_jit_stack_##W;                                                  \
        static Context* NewContext() { return pcre2_match_context_create_##W(nullptr); }    \
        static void FreeContext(Context* c) { pcre2_match_context_free_##W(c); }            \
        static Stack* NewStack(size_t max) {                                                \
            return pcre2_jit_stack_create_##W(32 * 1024, max, nullptr);                     \
        }                                                                                   \
        static void FreeStack(Stack* stack) { pcre2_jit_stack_free_##W(stack); }            \
        static void Assign(Context* c, Stack* stack) {                                      \
            pcre2_jit_stack_assign_##W(c, nullptr, stack);                                  \
            pcre2_set_heap_limit_##W(c, kInterpreterHeap >> 10);                            \
        }                                                                                   \
        static const PCRE2_SIZE* Ovector(Data* data) {                                      \
            return pcre2_get_ovector_pointer_##W(data);                                     \
        }                                                                                   \
        static std::string Message(int error) {                                             \
            PCRE2_UCHAR##W text[256];                                                       \
            const int n = pcre2_get_error_message_##W(error, text, 256);                    \
            std::string out;                                                                \
            for (int i = 0; i < n; ++i)                                                     \
                out += static_cast<char>(text[i] < 0x80 ? text[i] : '?');                   \
            return out;                                                                     \
        }                                                                                   \
        static uint32_t MaxLookbehind(const Code* code) {                                   \
            uint32_t v = 0;                                                                 \
            pcre2_pattern_info_##W(code, PCRE2_INFO_MAXLOOKBEHIND, &v);                     \
            return v;                                                                       \
        }                                                                                   \
    };
VELKARO_PCRE2_WIDTH(8)
VELKARO_PCRE2_WIDTH(16)
VELKARO_PCRE2_WIDTH(32)
#undef VELKARO_PCRE2_WIDTH

}  // namespace

namespace {

template <typename P>
class TPcreExpression final : public TSearchExpression {
  public:
    using Unit = typename P::Unit;

    TPcreExpression(typename P::Code* code, bool swap, bool utf)
        : code_(code), swap_(swap), utf_(utf) {
        P::Jit(code_);  // falls back to the interpreter
    }
    ~TPcreExpression() override { P::Free(code_); }

    size_t Context() const override {
        const size_t characters = P::MaxLookbehind(code_) + 1;
        const size_t bytes = characters * (utf_ ? 4 : sizeof(Unit));
        return std::clamp(bytes, kMinContext, kMaxContext);
    }

    class TRun final : public TExpressionRun {
      public:
        explicit TRun(const TPcreExpression& e)
            : e_(e),
              data_(P::NewData(e.code_)),
              context_(P::NewContext()),
              stack_(P::NewStack(kJitStack)) {
            if (context_ && stack_) P::Assign(context_, stack_);
        }
        ~TRun() override {
            if (stack_) P::FreeStack(stack_);
            if (context_) P::FreeContext(context_);
            if (data_) P::FreeData(data_);
        }
        void Load(const uint8_t* bytes, size_t size) override {
            units_ = size / sizeof(Unit);
            static const Unit none = 0;
            if (units_ == 0) {
                subject_ = &none;  // a part of a code unit at the end: nothing to match
                return;
            }
            const bool aligned = reinterpret_cast<uintptr_t>(bytes) % alignof(Unit) == 0;
            if (!e_.swap_ && aligned) {
                subject_ = reinterpret_cast<const Unit*>(bytes);
                return;
            }
            scratch_.resize(units_);
            std::memcpy(scratch_.data(), bytes, units_ * sizeof(Unit));
            if (e_.swap_)
                for (Unit& v : scratch_)
                    v = Swap(v);
            subject_ = scratch_.data();
        }
        TMatchResult Match(size_t start, bool partial, size_t& at, size_t& end) override {
            if (!data_ || start > units_) return TMatchResult::None;
            const uint32_t options = partial ? PCRE2_PARTIAL_HARD : 0;
            int rc = P::Match(e_.code_, subject_, units_, start, options, data_, context_);
            if (rc == PCRE2_ERROR_JIT_STACKLIMIT)
                rc = P::Match(e_.code_, subject_, units_, start, options | PCRE2_NO_JIT, data_,
                              context_);
            if (rc != PCRE2_ERROR_PARTIAL && rc <= 0) return TMatchResult::None;
            const PCRE2_SIZE* v = P::Ovector(data_);
            at = v[0];
            end = std::max(v[0], v[1]);
            if (at < start || end > units_) return TMatchResult::None;
            return rc == PCRE2_ERROR_PARTIAL ? TMatchResult::Partial : TMatchResult::Full;
        }
        size_t NextCharacter(size_t at) const override {
            ++at;
            if (!e_.utf_) return at;
            // Past UTF-8 continuation bytes or the low half of a surrogate pair.
            while (at < units_ && (sizeof(Unit) == 1   ? (subject_[at] & 0xC0) == 0x80
                                   : sizeof(Unit) == 2 ? (subject_[at] & 0xFC00) == 0xDC00
                                                       : false))
                ++at;
            return at;
        }

      private:
        static Unit Swap(Unit v) {
            if constexpr (sizeof(Unit) == 2) return static_cast<Unit>(__builtin_bswap16(v));
            if constexpr (sizeof(Unit) == 4) return static_cast<Unit>(__builtin_bswap32(v));
            return v;
        }
        const TPcreExpression& e_;
        typename P::Data* data_;
        typename P::Context* context_;
        typename P::Stack* stack_;
        const Unit* subject_ = nullptr;
        size_t units_ = 0;
        std::vector<Unit> scratch_;
    };

    std::unique_ptr<TExpressionRun> Run() const override { return std::make_unique<TRun>(*this); }

  private:
    typename P::Code* code_;
    bool swap_;  // the document's code units are in the other byte order
    bool utf_;
};

// Compiles `units` (the pattern in code units of P) or sets `error`.
template <typename P>
std::unique_ptr<const TSearchExpression> CompileExpression(const std::vector<uint32_t>& units,
                                                           uint32_t options, bool swap, bool utf,
                                                           std::string& error) {
    std::vector<typename P::Unit> pattern(units.begin(), units.end());
    int code = 0;
    PCRE2_SIZE where = 0;
    typename P::Code* compiled = P::Compile(pattern.data(), pattern.size(), options, &code, &where);
    if (!compiled) {
        error = P::Message(code) + " at " + std::to_string(where);
        return nullptr;
    }
    return std::make_unique<TPcreExpression<P>>(compiled, swap, utf);
}

}  // namespace

std::unique_ptr<const TSearchExpression> CompileSearchExpression(const std::vector<uint32_t>& units,
                                                                 TTextEncoding encoding, bool regex,
                                                                 bool matchCase,
                                                                 std::string& error) {
    const int unit = UnitSize(encoding);
    uint32_t options = regex ? PCRE2_MULTILINE : PCRE2_LITERAL;
    if (!matchCase) options |= PCRE2_CASELESS;
    const bool utf = unit > 1 || encoding == TTextEncoding::Utf8;
    if (utf) {
        options |= PCRE2_UTF | PCRE2_MATCH_INVALID_UTF;
        if (regex) options |= PCRE2_UCP;
    }
    const bool swap =
        unit > 1 && LittleEndian(encoding) != (std::endian::native == std::endian::little);
    if (unit == 1) return CompileExpression<TPcre8>(units, options, false, utf, error);
    if (unit == 2) return CompileExpression<TPcre16>(units, options, swap, utf, error);
    return CompileExpression<TPcre32>(units, options, swap, utf, error);
}
