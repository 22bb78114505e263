#pragma once

#include "base/Language.h"

#include <string_view>

// Every user-facing text that names a facility of the desktop: where logins are kept (macOS's
// Keychain, the Secret Service's keyring elsewhere) and where the program sits (the menu bar, the
// tray). A new text that names one belongs here, in both sets; the rest of the program never
// spells these words itself. Both sets are compiled everywhere, so each can be tested anywhere.
namespace PlatformWords {

struct Words {
    std::string_view secretStore;       // the facility's name inside sentences
    std::string_view secretStoreSource; // --check's "creds:" prefix of a named item
    std::string_view disconnected;      // the panel's banner and the settings' state
    std::string_view connected;
    std::string_view connectedMessage;    // after "接続"
    std::string_view disconnectedMessage; // after "切断"
    std::string_view disconnectedNote;    // under the state in the settings
    std::string_view liveLoginOn;         // under "Claude のライブログインを自動読み取り"
    std::string_view liveLoginOff;
    std::string_view trayPage; // the settings page of the label
    std::string_view trayMetricsTitle;
    std::string_view trayMetricsNote;
    std::string_view profilesNote;           // the profiles page's note on ▲▼
    std::string_view notReadBecauseDisabled; // after "ULMET_NO_KEYCHAIN=1 のため"
    // In error texts: how a read failed, in words (none: "読み取りエラー（service, status N）",
    // where the numbers are the platform's own).
    std::string_view unreachable;
    std::string_view locked;
};

inline constexpr Words kMacOS{
    TR_NOOP("Keychain"),
    "keychain: ",
    TR_NOOP("Keychain 未接続"),
    TR_NOOP("Keychain 接続済み"),
    TR_NOOP("Keychain に接続しました（許可ダイアログが出たら「常に許可」を）"),
    TR_NOOP("Keychain 接続を解除しました"),
    TR_NOOP(
        "未接続の間は Keychain "
        "に一切触れません（起動時に許可ダイアログが出ない）。接続を押すと認証し、以後は静かに読み込みます。"),
    TR_NOOP("オン: 使用中の自動判定・認証の自動ミラーを行います（初回に Keychain 確認 → 常に許可）"),
    TR_NOOP("オフ: Keychain 確認ダイアログが出ません。各口座は取り込み済み認証から監視します"),
    TR_NOOP("メニューバー"),
    TR_NOOP("メニューバーメトリクス"),
    TR_NOOP("メニューバーに表示するメトリクスを選択（アクティブ口座の値）"),
    TR_NOOP(
        "各プロファイルの「取り込む」で、上記の現在ログイン中アカウントをそのプロファイルに保存します。▲▼ "
        "で並べ替え（メニューバー表示順・自動切替の優先順位に反映）。"),
    TR_NOOP("ULMET_NO_KEYCHAIN=1 のため Keychain は参照しません"),
    "",
    "",
};

inline constexpr Words kLinux{
    TR_NOOP("キーリング"),
    "keyring: ",
    TR_NOOP("キーリング未接続"),
    TR_NOOP("キーリング接続済み"),
    TR_NOOP("キーリングに接続しました"),
    TR_NOOP("キーリング接続を解除しました"),
    TR_NOOP("未接続の間はキーリングに一切触れません。接続を押すと認証し、以後は静かに読み込みます。"),
    TR_NOOP("オン: 使用中の自動判定・認証の自動ミラーを行います"),
    TR_NOOP("オフ: ライブログインを読みません。各口座は取り込み済み認証から監視します"),
    TR_NOOP("トレイ"),
    TR_NOOP("トレイメトリクス"),
    TR_NOOP("トレイに表示するメトリクスを選択（アクティブ口座の値）"),
    TR_NOOP(
        "各プロファイルの「取り込む」で、上記の現在ログイン中アカウントをそのプロファイルに保存します。▲▼ "
        "で並べ替え（トレイ表示順・自動切替の優先順位に反映）。"),
    TR_NOOP("ULMET_NO_KEYCHAIN=1 のためキーリングは参照しません"),
    TR_NOOP("キーリング（Secret Service）に接続できません"),
    TR_NOOP("キーリングがロックされています"),
};

#ifdef __APPLE__
inline constexpr const Words& current = kMacOS;
#else
inline constexpr const Words& current = kLinux;
#endif

} // namespace PlatformWords
