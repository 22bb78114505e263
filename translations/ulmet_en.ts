<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>BusService</name>
    <message>
        <source>レート制限のため %1 まで再取得しません</source>
        <translation>Rate limited: no new reading before %1</translation>
    </message>
</context>
<context>
    <name>ConfigKeeper</name>
    <message>
        <source>設定を書き戻せませんでした</source>
        <translation>The configuration could not be written back</translation>
    </message>
    <message>
        <source>設定を書き戻しました。誤りのあった内容は %1 に残しています</source>
        <translation>The configuration was written back; the erroneous version is kept in %1</translation>
    </message>
    <message>
        <source>設定を書き戻しました</source>
        <translation>The configuration was written back</translation>
    </message>
    <message>
        <source>既定の設定で動作中です。</source>
        <translation>Running on the default settings. </translation>
    </message>
    <message>
        <source>バックアップの設定で動作中です。</source>
        <translation>Running on the backup. </translation>
    </message>
    <message>
        <source>誤りのある内容は %1 に残しています。</source>
        <translation>The erroneous version is kept in %1.</translation>
    </message>
    <message>
        <source>設定ファイルに誤りがあります</source>
        <translation>The configuration file has an error</translation>
    </message>
    <message>
        <source>ファイルを直すまで、設定の変更は保存されません</source>
        <translation>Changes to the settings are not saved until you correct the file</translation>
    </message>
    <message>
        <source>ファイルを直すか「%1」を選ぶまで、設定の変更は保存されません</source>
        <translation>Changes to the settings are not saved until you correct the file or choose “%1”</translation>
    </message>
    <message>
        <source>既定の設定に戻す</source>
        <translation>Reset to defaults</translation>
    </message>
    <message>
        <source>バックアップに戻す</source>
        <translation>Restore backup</translation>
    </message>
</context>
<context>
    <name>History</name>
    <message>
        <source>ウィンドウ</source>
        <translation>Window</translation>
    </message>
    <message>
        <source>期間</source>
        <translation>Span</translation>
    </message>
    <message>
        <source>履歴がまだありません</source>
        <translation>No history yet</translation>
    </message>
    <message>
        <source>接続して使用量を取得すると、更新間隔ごとに自動記録されます</source>
        <translation>Once connected and reading usage, it is recorded at every update</translation>
    </message>
    <message>
        <source>現在</source>
        <translation>Now</translation>
    </message>
</context>
<context>
    <name>MetricCard</name>
    <message>
        <source>アイコンスタイル</source>
        <translation>Icon style</translation>
    </message>
    <message>
        <source>次のセッションまでの時間を表示</source>
        <translation>Show the time until the next session</translation>
    </message>
    <message>
        <source>アイコンに残り時間（例: →2H）を表示</source>
        <translation>Show the time left on the icon (e.g. →2H)</translation>
    </message>
</context>
<context>
    <name>Popover</name>
    <message>
        <source>今すぐ更新</source>
        <translation>Update now</translation>
    </message>
    <message>
        <source>接続すると認証して使用量を読み込みます</source>
        <translation>Connect to read the usage</translation>
    </message>
    <message>
        <source>接続</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source>新しいアカウントを検出</source>
        <translation>New account detected</translation>
    </message>
    <message>
        <source>登録</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>履歴…</source>
        <translation>History…</translation>
    </message>
    <message>
        <source>設定…</source>
        <translation>Settings…</translation>
    </message>
    <message>
        <source>終了</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>設定ファイルに誤りがあります</source>
        <translation>The configuration file has an error</translation>
    </message>
</context>
<context>
    <name>ProfileListModel</name>
    <message>
        <source>このペースだと %1 ごろ上限（リセット %2）</source>
        <translation>At this pace full around %1 (resets %2)</translation>
    </message>
    <message>
        <source>「登録」を押すと %1 のログインをここに取り込みます</source>
        <translation>Press “Add” to capture %1’s login here</translation>
    </message>
</context>
<context>
    <name>ProfileRow</name>
    <message>
        <source>上へ移動</source>
        <translation>Move up</translation>
    </message>
    <message>
        <source>下へ移動</source>
        <translation>Move down</translation>
    </message>
    <message>
        <source>名前</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>種類</source>
        <translation>Kind</translation>
    </message>
    <message>
        <source>色</source>
        <translation>Colour</translation>
    </message>
    <message>
        <source>削除</source>
        <translation>Remove</translation>
    </message>
    <message>
        <source>設定ディレクトリ</source>
        <translation>Configuration directory</translation>
    </message>
    <message>
        <source>設定ディレクトリ（例: ~/.claude, ~/.codex）</source>
        <translation>Configuration directory (e.g. ~/.claude, ~/.codex)</translation>
    </message>
    <message>
        <source>未取り込み</source>
        <translation>Not captured</translation>
    </message>
    <message>
        <source>Codex: %1/sessions から読み取り</source>
        <translation>Codex: read from %1/sessions</translation>
    </message>
    <message>
        <source>現在のログインを取り込む</source>
        <translation>Capture the current login</translation>
    </message>
    <message>
        <source>使用量の取得</source>
        <translation>Usage from</translation>
    </message>
    <message>
        <source>API（トークン）</source>
        <translation>API (token)</translation>
    </message>
    <message>
        <source>ステータスライン</source>
        <translation>Status line</translation>
    </message>
    <message>
        <source>ステータスライン: 導入済み</source>
        <translation>Status line: installed</translation>
    </message>
    <message>
        <source>ステータスライン: 別のコマンド（%1）</source>
        <translation>Status line: another command (%1)</translation>
    </message>
    <message>
        <source>ステータスライン: 別のコマンド</source>
        <translation>Status line: another command</translation>
    </message>
    <message>
        <source>ステータスライン: 未導入</source>
        <translation>Status line: not installed</translation>
    </message>
    <message>
        <source>導入</source>
        <translation>Install</translation>
    </message>
</context>
<context>
    <name>ProfileSection</name>
    <message>
        <source>使用中のアカウントです</source>
        <translation>This account is in use</translation>
    </message>
    <message>
        <source>このアカウントに切り替え</source>
        <translation>Switch to this account</translation>
    </message>
    <message>
        <source>未取り込みのため切替できません</source>
        <translation>Not captured, so it cannot be switched to</translation>
    </message>
    <message>
        <source>現在のログインをここに取り込む</source>
        <translation>Capture the current login here</translation>
    </message>
    <message>
        <source>切替</source>
        <translation>Switch</translation>
    </message>
    <message>
        <source>設定…</source>
        <translation>Settings…</translation>
    </message>
    <message>
        <source>使用中</source>
        <translation>In use</translation>
    </message>
    <message>
        <source>重複</source>
        <translation>Duplicate</translation>
    </message>
    <message>
        <source>上へ移動</source>
        <translation>Move up</translation>
    </message>
    <message>
        <source>下へ移動</source>
        <translation>Move down</translation>
    </message>
    <message>
        <source>読み込み中…</source>
        <translation>Loading…</translation>
    </message>
</context>
<context>
    <name>SceneWindows</name>
    <message>
        <source>MeterKeeper · 使用履歴</source>
        <translation>MeterKeeper · Usage history</translation>
    </message>
</context>
<context>
    <name>Settings</name>
    <message>
        <source>プロファイル</source>
        <translation>Profiles</translation>
    </message>
    <message>
        <source>自動切替</source>
        <translation>Automatic switching</translation>
    </message>
    <message>
        <source>一般</source>
        <translation>General</translation>
    </message>
    <message>
        <source>現在 claude にログイン中</source>
        <translation>Logged in to claude now</translation>
    </message>
    <message>
        <source>（未ログイン / 取得できません）</source>
        <translation>(not logged in / cannot be read)</translation>
    </message>
    <message>
        <source>現在のログインを再確認</source>
        <translation>Check the current login again</translation>
    </message>
    <message>
        <source>＋ Claude を追加</source>
        <translation>+ Add Claude</translation>
    </message>
    <message>
        <source>＋ Codex を追加</source>
        <translation>+ Add Codex</translation>
    </message>
    <message>
        <source>プレビュー</source>
        <translation>Preview</translation>
    </message>
    <message>
        <source>5時間ローリングウィンドウ</source>
        <translation>5-hour rolling window</translation>
    </message>
    <message>
        <source>週間使用量（全モデル）</source>
        <translation>Weekly usage (all models)</translation>
    </message>
    <message>
        <source>使用中の口座のセッション使用率が閾値を超えたら、別の口座へ自動でログインを切り替えます。切替は次に起動する claude から有効です。</source>
        <translation>When the session usage of the account in use passes the threshold, the login is switched to another account automatically. The switch takes effect for the next claude you start.</translation>
    </message>
    <message>
        <source>セッション満杯で自動切替</source>
        <translation>Switch automatically when the session is full</translation>
    </message>
    <message>
        <source>しきい値: %1%</source>
        <translation>Threshold: %1%</translation>
    </message>
    <message>
        <source>しきい値</source>
        <translation>Threshold</translation>
    </message>
    <message>
        <source>この使用率を超えたら切替を発動</source>
        <translation>Switch when usage goes past this</translation>
    </message>
    <message>
        <source>切替先の優先順位</source>
        <translation>Order of accounts to switch to</translation>
    </message>
    <message>
        <source>上から順に、空いている（しきい値未満の）最初の Claude 口座へ切り替えます。順番は「プロファイル」画面の ▲▼ で変更できます。</source>
        <translation>Switches to the first Claude account from the top with room left (under the threshold). Change the order with ▲▼ on the Profiles page.</translation>
    </message>
    <message>
        <source>要取り込み</source>
        <translation>Needs capture</translation>
    </message>
    <message>
        <source>上限が近づいたら通知</source>
        <translation>Notify when the limit is near</translation>
    </message>
    <message>
        <source>使用中の口座のセッションが、このペースだと 30 分以内に上限に達しそうなときに一度だけ通知します。</source>
        <translation>Notifies once when, at its current pace, the session of the account in use will reach its limit within 30 minutes.</translation>
    </message>
    <message>
        <source>切断</source>
        <translation>Disconnect</translation>
    </message>
    <message>
        <source>接続</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source>ログイン時に起動</source>
        <translation>Start at login</translation>
    </message>
    <message>
        <source>デスクトップにログインすると自動的に MeterKeeper を起動します</source>
        <translation>Starts MeterKeeper when you log in to the desktop</translation>
    </message>
    <message>
        <source>自動</source>
        <translation>Automatic</translation>
    </message>
    <message>
        <source>次回の起動から反映されます</source>
        <translation>Takes effect the next time MeterKeeper starts</translation>
    </message>
    <message>
        <source>更新間隔</source>
        <translation>Update interval</translation>
    </message>
    <message>
        <source>%1秒</source>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>Claude のライブログインを自動読み取り</source>
        <translation>Read claude&apos;s live login automatically</translation>
    </message>
</context>
<context>
    <name>Shell</name>
    <message>
        <source>セッション %1</source>
        <translation>Session %1</translation>
    </message>
    <message>
        <source>週 %1</source>
        <translation>Week %1</translation>
    </message>
</context>
<context>
    <name>TrayIcon</name>
    <message>
        <source>パネルを開く</source>
        <translation>Open the panel</translation>
    </message>
    <message>
        <source>履歴…</source>
        <translation>History…</translation>
    </message>
    <message>
        <source>設定…</source>
        <translation>Settings…</translation>
    </message>
    <message>
        <source>終了</source>
        <translation>Quit</translation>
    </message>
</context>
<context>
    <name>UsageStore</name>
    <message>
        <source>MeterKeeper が終了するため切替えませんでした</source>
        <translation>Not switched: MeterKeeper is quitting</translation>
    </message>
    <message>
        <source>アカウント自動切替</source>
        <translation>Account switched automatically</translation>
    </message>
    <message>
        <source>使用量の予測</source>
        <translation>Usage forecast</translation>
    </message>
    <message>
        <source>「%1」のセッションはこのペースだと %2 ごろ上限に達します（リセット %3）</source>
        <translation>At this pace the session of “%1” reaches its limit around %2 (resets %3)</translation>
    </message>
    <message>
        <source>未接続 — 「接続」で認証してください</source>
        <translation>Not connected — choose “Connect” to authorise</translation>
    </message>
    <message>
        <source>レート制限のため約%1秒後に自動再取得します（表示は直前の値）</source>
        <translation>Rate limited: reading again in about %1 s (showing the last values)</translation>
    </message>
    <message>
        <source>「%1」のセッションが%2%に達したため「%3」に切替えました。claude を起動し直してください</source>
        <translation>The session of “%1” reached %2%, so MeterKeeper switched to “%3”. Restart claude</translation>
    </message>
    <message>
        <source>新しいアカウントを検出</source>
        <translation>New account detected</translation>
    </message>
    <message>
        <source>claude に %1 でログインしています。パネルの「登録」で使用量を表示し、切替えられるようになります</source>
        <translation>claude is logged in as %1. Choose “Add” in the panel to see its usage and switch to it</translation>
    </message>
    <message>
        <source>このデスクトップではキーリング（Secret Service）が動いていないため、接続できません。GNOME Keyring、KeePassXC（Secret Service 連携を有効にして）、KWallet のどれかを起動してから、もう一度「接続」してください</source>
        <translation>No keyring (Secret Service) runs on this desktop, so there is nothing to connect to. Start GNOME Keyring, KeePassXC (with its Secret Service integration on) or KWallet, then choose “Connect” again</translation>
    </message>
</context>
</TS>
