#include "platform/web/HTMLTree.h"

#include <gumbo.h>
#include <pthread.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <initializer_list>
#include <vector>

#include "platform/foundation/Utf8.h"
#include "platform/runtime/Log.h"

namespace platform::web {

namespace {

void appendJSONString(std::string& out, std::string_view s) {
    out += '"';
    for (size_t i = 0; i < s.size();) {
        utf8::Decoded d = utf8::decode(s, i);
        i += d.size;
        char32_t c = d.codePoint;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
            out += buffer;
        } else {
            utf8::append(out, c);
        }
    }
    out += '"';
}

std::string tagNameOf(const GumboElement& element) {
    if (element.tag != GUMBO_TAG_UNKNOWN) return gumbo_normalized_tagname(element.tag);
    GumboStringPiece piece = element.original_tag;
    if (!piece.data || piece.length == 0) return "unknown";
    gumbo_tag_from_original_text(&piece);
    std::string name(piece.data, piece.length);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name.empty() ? "unknown" : name;
}

struct Flattener {
    std::string out = "[";
    size_t count = 0;
    bool cutNodes = false;
    bool cutDepth = false;

    void add(const GumboNode* top) {
        struct Item {
            const GumboNode* node;
            long parent;
            size_t depth;
        };
        std::vector<Item> stack;
        auto pushChildren = [&](const GumboVector& children, long parent, size_t depth) {
            if (depth > kMaximumDepth) {
                cutDepth = cutDepth || children.length > 0;
                return;
            }
            for (unsigned i = children.length; i > 0; --i)
                stack.push_back({static_cast<const GumboNode*>(children.data[i - 1]), parent, depth});
        };
        pushChildren(top->type == GUMBO_NODE_DOCUMENT ? top->v.document.children : top->v.element.children, -1, 1);
        while (!stack.empty()) {
            Item item = stack.back();
            stack.pop_back();
            const GumboNode* node = item.node;
            if (node->type == GUMBO_NODE_DOCUMENT) continue;
            if (count >= kMaximumNodes) {
                cutNodes = true;
                break;
            }
            long index = static_cast<long>(count);
            if (count++) out += ',';
            if (node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE) {
                const GumboElement& element = node->v.element;
                out += "[1," + std::to_string(item.parent) + ',';
                appendJSONString(out, tagNameOf(element));
                out += ",[";
                for (unsigned a = 0; a < element.attributes.length; ++a) {
                    const auto* attribute = static_cast<const GumboAttribute*>(element.attributes.data[a]);
                    if (a) out += ',';
                    appendJSONString(out, attribute->name ? attribute->name : "");
                    out += ',';
                    appendJSONString(out, attribute->value ? attribute->value : "");
                }
                out += "]]";
                pushChildren(element.children, index, item.depth + 1);
            } else {
                out += node->type == GUMBO_NODE_COMMENT ? "[8," : "[3,";
                out += std::to_string(item.parent) + ',';
                appendJSONString(out, node->v.text.text ? node->v.text.text : "");
                out += ']';
            }
        }
        out += ']';
    }
};

struct ParseJob {
    std::string_view html;
    std::optional<std::string_view> fragmentContext;
    Flattener result;

    void run() {
        GumboOptions options = kGumboDefaultOptions;
        options.max_errors = 0;  // the error list is not used: do not let bad pages grow it
        if (fragmentContext) {
            std::string name(*fragmentContext);
            GumboTag tag = gumbo_tag_enum(name.c_str());
            options.fragment_context = tag == GUMBO_TAG_UNKNOWN || tag == GUMBO_TAG_LAST ? GUMBO_TAG_DIV : tag;
            options.fragment_namespace = GUMBO_NAMESPACE_HTML;
        }
        GumboOutput* output = gumbo_parse_with_options(&options, html.data(), html.size());
        if (!output) {
            result.out = "[]";
            return;
        }
        result.add(fragmentContext ? output->root : output->document);
        gumbo_destroy_output(&options, output);
    }
};

bool isNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == ':' || c == '_'; }

bool oneOf(std::string_view name, std::initializer_list<std::string_view> names) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The parser checks scope by walking its stack of open elements at every
// start tag, and attributes for duplicates one against another, so hostile
// nesting or attribute lists cost it quadratic time, and every tag costs it a
// node. A light scan finds where a page goes beyond sane bounds (for depth it
// counts only elements that stay open: not void ones, nor those a sibling
// closes); the page is cut there.
constexpr size_t kScanDepth = 1024;
constexpr size_t kScanAttributes = 1024;

struct Cut {
    size_t at;
    const char* why;
};

std::optional<Cut> hostileCut(std::string_view html) {
    size_t depth = 0;
    size_t tags = 0;
    size_t i = 0;
    auto lowerName = [&](size_t from) {
        std::string name;
        while (from < html.size() && isNameChar(html[from]))
            name += static_cast<char>(std::tolower(static_cast<unsigned char>(html[from++])));
        return name;
    };
    while ((i = html.find('<', i)) != std::string_view::npos) {
        size_t start = i;
        if (html.substr(i, 4) == "<!--") {
            size_t end = html.find("-->", i + 4);
            i = end == std::string_view::npos ? html.size() : end + 3;
            continue;
        }
        bool closing = i + 1 < html.size() && html[i + 1] == '/';
        size_t nameAt = i + (closing ? 2 : 1);
        if (nameAt >= html.size() || !std::isalpha(static_cast<unsigned char>(html[nameAt]))) {
            i = nameAt;
            continue;
        }
        std::string name = lowerName(nameAt);
        // Every tag may make a node (even a stray end tag): later ones would be dropped anyway.
        if (++tags > kMaximumNodes) return Cut{start, "too many tags"};
        // The tag's end, skipping quoted attribute values; attributes counted.
        size_t j = nameAt + name.size();
        size_t attributes = 0;
        bool inName = false;
        char quote = 0;
        for (; j < html.size(); ++j) {
            char c = html[j];
            if (quote) {
                if (c == quote) quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                break;
            } else if (std::isspace(static_cast<unsigned char>(c)) || c == '/') {
                inName = false;
            } else if (!inName && c != '=') {
                inName = true;
                if (++attributes > kScanAttributes) return Cut{start, "a tag with too many attributes"};
            }
        }
        if (j >= html.size()) return std::nullopt;  // the parser drops an unfinished tag
        bool selfClosing = html[j - 1] == '/';
        i = j + 1;
        static const std::initializer_list<std::string_view> kVoid = {
            "area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "param", "source",
            "track", "wbr", "keygen", "basefont", "bgsound", "frame", "image"};
        static const std::initializer_list<std::string_view> kSiblingClosed = {
            "p", "li", "dt", "dd", "option", "optgroup", "tr", "td", "th", "tbody", "thead", "tfoot", "rp",
            "rt", "colgroup", "caption", "html", "head", "body"};
        if (oneOf(name, kVoid) || oneOf(name, kSiblingClosed)) continue;
        if (closing) {
            depth -= depth > 0;
            continue;
        }
        if (selfClosing) continue;
        if (++depth > kScanDepth) return Cut{start, "nesting too deep"};
        if (oneOf(name, {"script", "style", "textarea", "title", "xmp", "iframe", "noembed", "noframes",
                         "noscript", "plaintext"})) {
            // Raw text up to the element's end tag.
            size_t k = i;
            while ((k = html.find("</", k)) != std::string_view::npos && lowerName(k + 2) != name) k += 2;
            i = k == std::string_view::npos ? html.size() : k;
        }
    }
    return std::nullopt;
}

void* runJob(void* job) {
    static_cast<ParseJob*>(job)->run();
    return nullptr;
}

}  // namespace

std::string parseHTMLToNodeList(std::string_view html, std::optional<std::string_view> fragmentContext,
                                const ParseLineSink& boundPassed) {
    auto warn = [&](std::string line) {
        if (boundPassed) boundPassed(std::move(line));
        else log(LogLevel::Warning, line);
    };
    if (html.size() > kMaximumDocumentBytes) {
        warn("web view: page cut at " + std::to_string(kMaximumDocumentBytes) + " bytes");
        html = html.substr(0, kMaximumDocumentBytes);
    }
    if (std::optional<Cut> cut = hostileCut(html)) {
        warn(std::string("web view: page cut at byte ") + std::to_string(cut->at) + ": " + cut->why);
        html = html.substr(0, cut->at);
    }
    ParseJob job{html, fragmentContext, {}};
    // The parser frees its tree recursively, so deeply nested markup needs a
    // deep stack: markup with many tags is parsed on a thread with a large one.
    bool deep = std::count(html.begin(), html.end(), '<') > 4000;
    bool ran = false;
    if (deep) {
        pthread_attr_t attributes;
        pthread_t thread;
        if (pthread_attr_init(&attributes) == 0) {
            if (pthread_attr_setstacksize(&attributes, size_t{512} << 20) == 0 &&
                pthread_create(&thread, &attributes, runJob, &job) == 0) {
                pthread_join(thread, nullptr);
                ran = true;
            }
            pthread_attr_destroy(&attributes);
        }
    }
    if (!ran) job.run();
    if (job.result.cutNodes)
        warn("web view: page has more than " + std::to_string(kMaximumNodes) + " nodes; the rest are dropped");
    if (job.result.cutDepth)
        warn("web view: page nests deeper than " + std::to_string(kMaximumDepth) + "; deeper nodes are dropped");
    return std::move(job.result.out);
}

}  // namespace platform::web
