#include "base/Language.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace fs = std::filesystem;

#ifndef ULMET_LOCALE_DIR
#define ULMET_LOCALE_DIR "/usr/share/locale"
#endif

namespace Language {

namespace {

// A compiled catalogue (msgfmt's .mo): source text → translation.
using Catalogue = std::unordered_map<std::string, std::string>;

std::atomic<Lang> g_current{Lang::japanese};
std::atomic<const Catalogue*> g_catalogue{nullptr};

// Reads a .mo file: the header, then two tables of (length, offset) pairs pointing at the source
// texts and their translations, in the byte order its magic number says. Anything that does not
// hold together gives an empty catalogue (the texts stay Japanese), never a read out of bounds.
Catalogue readCatalogue(const fs::path& file) {
    Catalogue catalogue;
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return catalogue;
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.size() < 28 || data.size() > (64u << 20))
        return catalogue;
    const auto word = [&data](std::size_t at, bool swap) -> std::uint32_t {
        std::uint32_t value = 0;
        std::memcpy(&value, data.data() + at, 4);
        if (swap)
            value = (value >> 24) | ((value >> 8) & 0xff00u) | ((value << 8) & 0xff0000u) | (value << 24);
        return value;
    };
    const std::uint32_t magic = word(0, false);
    if (magic != 0x950412deu && magic != 0xde120495u)
        return catalogue;
    const bool swap = magic == 0xde120495u;
    const std::uint64_t count = word(8, swap), sources = word(12, swap), translations = word(16, swap);
    if (sources + count * 8 > data.size() || translations + count * 8 > data.size())
        return catalogue;
    const auto text = [&](std::uint64_t table, std::uint64_t i, std::string& out) {
        const std::uint64_t length = word(table + i * 8, swap), offset = word(table + i * 8 + 4, swap);
        if (offset + length >= data.size()) // the terminating NUL must be there too
            return false;
        out.assign(data, offset, length);
        return true;
    };
    for (std::uint64_t i = 0; i < count; ++i) {
        std::string source, translation;
        if (!text(sources, i, source) || !text(translations, i, translation))
            return {};
        if (!source.empty() && !translation.empty()) // the header's source is empty
            catalogue.emplace(std::move(source), std::move(translation));
    }
    return catalogue;
}

Lang fromName(std::string_view name) {
    if (name.empty() || name == "C" || name == "POSIX" || name.substr(0, 2) == "C.")
        return Lang::japanese;
    if (name.substr(0, 2) == "ja")
        return Lang::japanese;
    return Lang::english;
}

} // namespace

Lang fromLocale(const Getenv& getenv) {
    for (const char* variable : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = getenv(variable);
        if (!value || !*value)
            continue;
        std::string_view name(value);
        if (std::strcmp(variable, "LANGUAGE") == 0)
            name = name.substr(0, name.find(':'));
        if (!name.empty())
            return fromName(name);
    }
    return Lang::japanese;
}

Setting settingFromString(std::string_view text) {
    if (text == "ja")
        return Setting::japanese;
    if (text == "en")
        return Setting::english;
    return Setting::automatic;
}

Lang choose(Setting setting, const Getenv& getenv) {
    switch (setting) {
    case Setting::japanese:
        return Lang::japanese;
    case Setting::english:
        return Lang::english;
    case Setting::automatic:
        break;
    }
    return fromLocale(getenv);
}

std::string_view code(Lang lang) {
    return lang == Lang::english ? "en" : "ja";
}

// The catalogue is read here rather than through libintl's dgettext: libintl takes its language
// from the process's locale, which cannot be English where no English locale is installed (and
// newer glibc ignores LANGUAGE under C.UTF-8 too), while the user's choice must hold anywhere.
void use(Lang lang, const fs::path& localeDir) {
    g_current = lang;
    if (lang == Lang::japanese) {
        g_catalogue = nullptr;
        return;
    }
    // Catalogues stay for the life of the process: translate() hands out pointers into them.
    static std::mutex mutex;
    static std::map<fs::path, std::unique_ptr<const Catalogue>> loaded;
    const fs::path file = localeDir / std::string(code(lang)) / "LC_MESSAGES" / "ulmet.mo";
    const std::lock_guard lock(mutex);
    auto& catalogue = loaded[file];
    if (!catalogue)
        catalogue = std::make_unique<const Catalogue>(readCatalogue(file));
    g_catalogue = catalogue.get();
}

Lang current() {
    return g_current;
}

fs::path localeDir(const fs::path& executableDir) {
    std::error_code error;
    if (const fs::path beside = executableDir / "locale"; fs::is_directory(beside, error))
        return beside;
    return ULMET_LOCALE_DIR;
}

const char* translate(const char* source) {
    const Catalogue* catalogue = g_catalogue.load(std::memory_order_acquire);
    if (!catalogue)
        return source;
    const auto it = catalogue->find(source);
    return it == catalogue->end() ? source : it->second.c_str();
}

} // namespace Language
