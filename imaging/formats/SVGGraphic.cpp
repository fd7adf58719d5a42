#include "imaging/formats/SVGGraphic.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "imaging/Exceptions.h"
#include "imaging/ImagingMessages.h"
#include "imaging/ImagingRoutines.h"

namespace {

[[noreturn]] void Fail() {
    RaiseInvalidGraphicFmt(imsg::InvalidImage, "SVG");
}

TSVGGraphic::TRenderer& RendererSlot() {
    static TSVGGraphic::TRenderer renderer;
    return renderer;
}

bool IsGzip(const uint8_t* data, size_t size) {
    return size >= 2 && data[0] == 0x1F && data[1] == 0x8B;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool StartsWith(const char* text, size_t size, size_t pos, const char* what) {
    const size_t n = std::strlen(what);
    return pos <= size && n <= size - pos && std::memcmp(text + pos, what, n) == 0;
}

// Position of what at or after pos, or size when it is not there.
size_t Find(const char* text, size_t size, size_t pos, const char* what) {
    const size_t n = std::strlen(what);
    for (size_t i = pos; i < size && n <= size - i; ++i)
        if (std::memcmp(text + i, what, n) == 0) return i;
    return size;
}

// One attribute of a start tag: the name and the value's place in the text.
struct TAttribute {
    std::string name;
    size_t valueStart = 0;
    size_t valueEnd = 0;
};

// Names longer than this are not ones we look for: reading stops there, so scanning a hostile
// text stays linear.
constexpr size_t kMaxName = 256;

// Reads the start tag whose '<' is at pos: its name and attributes (as far as the text holds
// them). Returns the position after the tag, or size when the tag is cut off or malformed.
size_t ReadTag(const char* text, size_t size, size_t pos, std::string& name,
               std::vector<TAttribute>& attributes) {
    name.clear();
    attributes.clear();
    size_t i = pos + 1;
    while (i < size && !IsSpace(text[i]) && text[i] != '>' && text[i] != '/') {
        if (name.size() >= kMaxName) return size;
        name += text[i++];
    }
    for (;;) {
        while (i < size && IsSpace(text[i]))
            ++i;
        if (i >= size) return size;
        if (text[i] == '>') return i + 1;
        if (text[i] == '/') return StartsWith(text, size, i, "/>") ? i + 2 : size;
        TAttribute a;
        while (i < size && !IsSpace(text[i]) && text[i] != '=' && text[i] != '>' &&
               text[i] != '/') {
            if (a.name.size() >= kMaxName) return size;
            a.name += text[i++];
        }
        while (i < size && IsSpace(text[i]))
            ++i;
        if (i >= size || text[i] != '=' || a.name.empty()) return size;
        ++i;
        while (i < size && IsSpace(text[i]))
            ++i;
        if (i >= size || (text[i] != '"' && text[i] != '\'')) return size;
        const char quote = text[i++];
        a.valueStart = i;
        while (i < size && text[i] != quote)
            ++i;
        if (i >= size) return size;
        a.valueEnd = i++;
        attributes.push_back(std::move(a));
    }
}

// The name without a namespace prefix.
std::string LocalName(const std::string& name) {
    const size_t colon = name.rfind(':');
    return colon == std::string::npos ? name : name.substr(colon + 1);
}

// Numbers in a list separated by spaces and commas.
std::vector<double> Numbers(const std::string& text) {
    std::vector<double> values;
    size_t i = 0;
    while (i < text.size() && values.size() < 8) {
        while (i < text.size() && (IsSpace(text[i]) || text[i] == ','))
            ++i;
        if (i >= text.size()) break;
        if (text[i] == '+') ++i;
        double v = 0;
        const auto [end, error] = std::from_chars(text.data() + i, text.data() + text.size(), v);
        if (error != std::errc() || !std::isfinite(v)) return {};
        values.push_back(v);
        i = size_t(end - text.data());
    }
    return values;
}

void ReadAspect(const std::string& text, TSVGRoot& root) {
    std::vector<std::string> words;
    std::string word;
    for (char c : text + ' ') {
        if (IsSpace(c)) {
            if (!word.empty()) words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    size_t k = 0;
    if (k < words.size() && words[k] == "defer") ++k;
    if (k >= words.size()) return;
    const std::string& align = words[k++];
    if (align == "none") {
        root.AlignNone = true;
    } else if (align.size() == 8 && align[0] == 'x' && align[4] == 'Y') {
        auto axis = [](const std::string& s) {
            return s == "Min" ? 0 : s == "Mid" ? 1 : s == "Max" ? 2 : -1;
        };
        const int x = axis(align.substr(1, 3)), y = axis(align.substr(5, 3));
        if (x < 0 || y < 0) return;
        root.AlignX = x;
        root.AlignY = y;
    } else {
        return;
    }
    if (k < words.size()) root.Slice = words[k] == "slice";
}

// Blanks the link of every <image> element that points outside the document (anything but a
// data: URL), so drawing the picture never reads other files.
void BlankExternalImages(std::string& doc) {
    std::string name;
    std::vector<TAttribute> attributes;
    size_t pos = 0;
    while ((pos = doc.find('<', pos)) != std::string::npos) {
        const size_t next = ReadTag(doc.data(), doc.size(), pos, name, attributes);
        if (LocalName(name) == "image") {
            for (const TAttribute& a : attributes) {
                if (LocalName(a.name) != "href") continue;
                size_t v = a.valueStart;
                while (v < a.valueEnd && IsSpace(doc[v]))
                    ++v;
                if (doc.compare(v, 5, "data:") == 0 && v + 5 <= a.valueEnd) continue;
                std::fill(doc.begin() + std::ptrdiff_t(a.valueStart),
                          doc.begin() + std::ptrdiff_t(a.valueEnd), ' ');
            }
        }
        // A tag that is not one (a '<' in a comment or in text) is stepped over.
        pos = next < doc.size() ? std::max(next, pos + 1) : pos + 1;
    }
}

// The number of elements drawing the document draws: each element once, and each <use> once
// more with everything its target draws (targets named by "#id", cycles counted once). Counting
// stops above limit, which it then returns.
uint64_t DrawnElements(const std::string& doc, uint64_t limit) {
    struct TNode {
        int parent = -1, firstChild = -1, nextSibling = -1, lastChild = -1;
        int target = -1;          // the node a <use> draws
        uint64_t targetHash = 0;  // the id it names, until resolved
    };
    std::vector<TNode> nodes;
    std::unordered_map<uint64_t, int> ids;  // hashes of ids: a collision only miscounts
    auto hash = [](const char* p, size_t n) { return std::hash<std::string_view>()({p, n}); };
    int open = -1;  // the innermost element not closed yet
    std::string name;
    std::vector<TAttribute> attributes;
    const size_t size = doc.size();
    size_t pos = 0;
    while ((pos = doc.find('<', pos)) != std::string::npos) {
        const char* text = doc.data();
        if (StartsWith(text, size, pos, "<!--")) {
            pos = Find(text, size, pos + 4, "-->");
        } else if (StartsWith(text, size, pos, "<![CDATA[")) {
            pos = Find(text, size, pos + 9, "]]>");
        } else if (StartsWith(text, size, pos, "<?") || StartsWith(text, size, pos, "<!")) {
            ++pos;
        } else if (StartsWith(text, size, pos, "</")) {
            if (open >= 0) open = nodes[size_t(open)].parent;
            ++pos;
        } else {
            const size_t next = ReadTag(text, size, pos, name, attributes);
            if (next >= size || name.empty()) {
                ++pos;
                continue;
            }
            if (nodes.size() >= limit) return limit;
            const int index = int(nodes.size());
            TNode node;
            node.parent = open;
            const bool isUse = LocalName(name) == "use";
            for (const TAttribute& a : attributes) {
                const size_t n = a.valueEnd - a.valueStart;
                if (a.name == "id")
                    ids.emplace(hash(text + a.valueStart, n), index);
                else if (isUse && LocalName(a.name) == "href" && n > 1 && text[a.valueStart] == '#')
                    node.targetHash = hash(text + a.valueStart + 1, n - 1);
            }
            if (open >= 0) {
                TNode& parent = nodes[size_t(open)];
                if (parent.lastChild >= 0)
                    nodes[size_t(parent.lastChild)].nextSibling = index;
                else
                    parent.firstChild = index;
                parent.lastChild = index;
            }
            nodes.push_back(node);
            if (text[next - 2] != '/') open = index;
            pos = next;
        }
    }
    for (TNode& node : nodes) {
        if (node.targetHash == 0) continue;
        const auto found = ids.find(node.targetHash);
        if (found != ids.end()) node.target = found->second;
    }
    // Depth-first over children and use targets without recursion (documents nest deeply).
    std::vector<uint64_t> cost(nodes.size(), 0);
    std::vector<uint8_t> state(nodes.size(), 0);  // 0 not seen, 1 being counted, 2 counted
    std::vector<std::pair<int, int>> stack;       // node, next step (-1 the target, then children)
    uint64_t total = 0;
    for (size_t root = 0; root < nodes.size(); ++root) {
        if (nodes[root].parent >= 0) continue;
        stack.push_back({int(root), -2});
        while (!stack.empty()) {
            auto& [v, step] = stack.back();
            TNode& node = nodes[size_t(v)];
            int dep = -1;
            if (step == -2) {
                state[size_t(v)] = 1;
                step = -1;
                dep = node.target;
            } else {
                dep = step == -1 ? node.firstChild : nodes[size_t(step)].nextSibling;
                if (dep < 0) {
                    uint64_t sum = 1;
                    if (node.target >= 0 && state[size_t(node.target)] == 2)
                        sum += cost[size_t(node.target)];
                    for (int c = node.firstChild; c >= 0; c = nodes[size_t(c)].nextSibling)
                        sum += cost[size_t(c)];
                    cost[size_t(v)] = std::min(sum, limit);
                    state[size_t(v)] = 2;
                    stack.pop_back();
                    continue;
                }
                step = dep;
            }
            if (dep >= 0 && state[size_t(dep)] == 0) stack.push_back({dep, -2});
        }
        total = std::min(total + cost[root], limit);
    }
    return total;
}

}  // namespace

const TGraphicClass& TSVGGraphic::ClassInfo() {
    static const TGraphicClass info{"TSVGGraphic", [] { return std::make_unique<TSVGGraphic>(); },
                                    &TSVGGraphic::ProbeStream, nullptr};
    return info;
}

void TSVGGraphic::SetRenderer(TRenderer renderer) {
    RendererSlot() = std::move(renderer);
}

bool TSVGGraphic::HasRenderer() {
    return bool(RendererSlot());
}

bool TSVGGraphic::ParseLength(const std::string& text, double& pixels) {
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    if (i < text.size() && text[i] == '+') ++i;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data() + i, text.data() + text.size(), value);
    if (error != std::errc() || !std::isfinite(value) || value < 0) return false;
    std::string unit(end, text.data() + text.size());
    while (!unit.empty() && IsSpace(unit.back()))
        unit.pop_back();
    static const struct {
        const char* unit;
        double perUnit;
    } kUnits[] = {{"", 1},           {"px", 1},  {"pt", 96.0 / 72}, {"pc", 16}, {"mm", 96 / 25.4},
                  {"cm", 96 / 2.54}, {"in", 96}, {"em", 16},        {"ex", 8}};
    for (const auto& u : kUnits) {
        if (unit == u.unit) {
            pixels = value * u.perUnit;
            return std::isfinite(pixels);
        }
    }
    return false;
}

bool TSVGGraphic::ReadRoot(const char* text, size_t size, TSVGRoot& root) {
    size_t i = 0;
    if (StartsWith(text, size, 0, "\xEF\xBB\xBF")) i = 3;
    for (;;) {
        while (i < size && IsSpace(text[i]))
            ++i;
        if (i >= size || text[i] != '<') return false;
        if (StartsWith(text, size, i, "<?")) {
            i = Find(text, size, i + 2, "?>") + 2;
        } else if (StartsWith(text, size, i, "<!--")) {
            i = Find(text, size, i + 4, "-->") + 3;
        } else if (StartsWith(text, size, i, "<!DOCTYPE")) {
            // Skips the doctype with its internal subset and quoted identifiers.
            size_t j = i + 9;
            int depth = 0;
            while (j < size && !(text[j] == '>' && depth == 0)) {
                if (text[j] == '[') ++depth;
                if (text[j] == ']' && depth > 0) --depth;
                if (text[j] == '"' || text[j] == '\'') {
                    const char quote = text[j];
                    while (++j < size && text[j] != quote) {
                    }
                }
                ++j;
            }
            i = j + 1;
        } else {
            break;
        }
        if (i > size) return false;
    }
    std::string name;
    std::vector<TAttribute> attributes;
    ReadTag(text, size, i, name, attributes);
    if (name != "svg" && (name.size() < 5 || name.compare(name.size() - 4, 4, ":svg") != 0))
        return false;

    root = TSVGRoot();
    double width = 0, height = 0;
    bool hasWidth = false, hasHeight = false;
    for (const TAttribute& a : attributes) {
        const std::string value(text + a.valueStart, a.valueEnd - a.valueStart);
        if (a.name == "width") {
            hasWidth = ParseLength(value, width);
        } else if (a.name == "height") {
            hasHeight = ParseLength(value, height);
        } else if (a.name == "viewBox") {
            const std::vector<double> box = Numbers(value);
            if (box.size() == 4 && box[2] > 0 && box[3] > 0) {
                root.HasViewBox = true;
                root.ViewBoxX = box[0];
                root.ViewBoxY = box[1];
                root.ViewBoxWidth = box[2];
                root.ViewBoxHeight = box[3];
            }
        } else if (a.name == "preserveAspectRatio") {
            ReadAspect(value, root);
        }
    }
    // A missing (or relative) side comes from the viewBox's aspect, else the default size.
    if (!hasWidth && !hasHeight) {
        width = root.HasViewBox ? root.ViewBoxWidth : kDefaultWidth;
        height = root.HasViewBox ? root.ViewBoxHeight : kDefaultHeight;
    } else if (!hasWidth) {
        width = root.HasViewBox ? height * root.ViewBoxWidth / root.ViewBoxHeight : kDefaultWidth;
    } else if (!hasHeight) {
        height = root.HasViewBox ? width * root.ViewBoxHeight / root.ViewBoxWidth : kDefaultHeight;
    }
    root.Width = width;
    root.Height = height;
    return true;
}

bool TSVGGraphic::Inflate(const uint8_t* data, size_t size, size_t limit, std::string& out,
                          bool allowPartial) {
    out.clear();
    if (size > UINT_MAX) return false;
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return false;
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    // The trailer's size (modulo 4 GiB) sizes the text once, so it is not copied as it grows.
    if (size >= 18) out.reserve(std::min<size_t>(GetU32LE(data + size - 4), limit));
    std::vector<char> chunk(65536);
    int rc = Z_OK;
    bool ok = false;
    for (;;) {
        z.next_out = reinterpret_cast<Bytef*>(chunk.data());
        z.avail_out = static_cast<uInt>(chunk.size());
        rc = inflate(&z, Z_NO_FLUSH);
        const size_t got = chunk.size() - z.avail_out;
        if (got > limit - std::min(limit, out.size())) {
            // Beyond the bound: a partial read keeps what fits.
            if (allowPartial) out.append(chunk.data(), limit - std::min(limit, out.size()));
            ok = allowPartial;
            break;
        }
        out.append(chunk.data(), got);
        if (rc == Z_STREAM_END) {
            ok = true;
            break;
        }
        if (rc != Z_OK) {
            ok = allowPartial && rc == Z_BUF_ERROR;
            break;
        }
    }
    inflateEnd(&z);
    if (!ok) out.clear();
    return ok;
}

bool TSVGGraphic::ProbeStream(TStream& stream) {
    const int64_t pos = stream.Position();
    const std::vector<uint8_t> head =
        stream.ReadAvailable(std::min<int64_t>(stream.Remaining(), int64_t(kProbeSize)));
    stream.SetPosition(pos);
    std::string text;
    if (IsGzip(head.data(), head.size())) {
        if (!Inflate(head.data(), head.size(), kProbeSize, text, true)) return false;
    } else {
        text.assign(head.begin(), head.end());
    }
    TSVGRoot root;
    return ReadRoot(text.data(), text.size(), root);
}

void TSVGGraphic::LoadFromStream(TStream& stream) {
    if (stream.Remaining() > kMaxFileSize) Fail();
    const std::vector<uint8_t> data = stream.ReadAvailable(stream.Remaining());
    std::string document;
    if (IsGzip(data.data(), data.size())) {
        if (!Inflate(data.data(), data.size(), kMaxDocumentSize, document)) Fail();
    } else {
        document.assign(data.begin(), data.end());
    }
    TSVGRoot root;
    if (!ReadRoot(document.data(), document.size(), root)) Fail();
    double w = root.Width, h = root.Height;
    if (!std::isfinite(w) || !std::isfinite(h) || !(w > 0) || !(h > 0)) Fail();
    const double largest = std::max(w, h);
    if (largest > kMaxSide) {
        w = w * kMaxSide / largest;
        h = h * kMaxSide / largest;
    }
    // A document whose references multiply what it draws beyond all measure is refused.
    if (DrawnElements(document, kMaxDrawnElements) >= kMaxDrawnElements) Fail();
    BlankExternalImages(document);
    document_ = std::move(document);
    root_ = root;
    width_ = std::max(1, int(std::lround(w)));
    height_ = std::max(1, int(std::lround(h)));
    // Drawn straight into the held bitmap (a large picture is not copied once more).
    bitmap_.SetSize(0, 0);
    if (const TRenderer& render = RendererSlot(); render && drawn_) render(*this, bitmap_);
    Changed();
}

bool TSVGGraphic::PrepareReducedLoad(const std::string&, const TReducedDecode& wish, int&, int&) {
    drawn_ = !wish.DrawsVectors;
    return false;
}

void TSVGGraphic::Assign(const TGraphic& source) {
    if (const auto* svg = dynamic_cast<const TSVGGraphic*>(&source)) {
        if (svg == this) return;
        document_ = svg->document_;
        root_ = svg->root_;
        width_ = svg->width_;
        height_ = svg->height_;
        bitmap_.Assign(svg->bitmap_);
        Changed();
        return;
    }
    TGraphic::Assign(source);
}

bool TSVGGraphic::AssignTo(TGraphic& dest) const {
    if (auto* svg = dynamic_cast<TSVGGraphic*>(&dest)) {
        svg->Assign(*this);
        return true;
    }
    auto* bitmap = dynamic_cast<TBitmap*>(&dest);
    if (bitmap == nullptr) return false;
    bitmap->Assign(bitmap_);
    return true;
}
