#include "readings/ProfileQuery.h"

#include "base/Language.h"
#include "base/Text.h"

#include <algorithm>
#include <functional>

namespace ProfileQuery {
namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

std::string describe(const ProfileConfig& p) {
    return p.accountEmail ? p.name + " <" + *p.accountEmail + "> " + p.id.toString()
                          : p.name + " " + p.id.toString();
}

} // namespace

Match find(const std::vector<ProfileConfig>& profiles, std::string_view query) {
    Match match;
    if (query.empty()) {
        match.message = TR("プロファイルの名前、メールアドレスまたは ID を指定してください");
        return match;
    }
    const auto id = Uuid::parse(query);
    const std::function<bool(const ProfileConfig&)> steps[] = {
        [&](const ProfileConfig& p) { return id && p.id == *id; },
        [&](const ProfileConfig& p) { return p.name == query; },
        [&](const ProfileConfig& p) { return p.accountEmail && equalsIgnoringCase(*p.accountEmail, query); },
        [&](const ProfileConfig& p) { return equalsIgnoringCase(p.name, query); },
    };
    for (const auto& matches : steps) {
        std::vector<const ProfileConfig*> found;
        for (const ProfileConfig& p : profiles)
            if (matches(p))
                found.push_back(&p);
        if (found.size() == 1) {
            match.kind = Match::Kind::found;
            match.profile = found.front();
            return match;
        }
        if (found.size() > 1) {
            match.kind = Match::Kind::ambiguous;
            match.message =
                Text::fill(TR("「%1」に当たるプロファイルが複数あります。ID で指定してください:"), {query});
            for (const ProfileConfig* p : found)
                match.message += "\n  " + describe(*p);
            return match;
        }
    }
    match.message =
        Text::fill(TR("「%1」という名前、メールアドレス、ID のプロファイルはありません"), {query});
    if (profiles.empty())
        return match;
    // What there is, and where names are changed.
    match.message +=
        "\n" + std::string(TR("プロファイル（名前は MeterKeeper の設定の「プロファイル」で変えられます）:"));
    for (const ProfileConfig& p : profiles)
        match.message += "\n  " + describe(p);
    return match;
}

} // namespace ProfileQuery
