// Every Japanese text pktwatch writes, kept once and readable (UTF-8). They
// reach the console only through console_text / console_printf, which write
// them in the console's encoding (Shift-JIS or UTF-8).
#pragma once

// --- Start-up ----------------------------------------------------------------
inline constexpr const char* msg_winsock_required = "Winsock2.2以上のライブラリが必要です.\n";
inline constexpr const char* msg_log_open_failed = "ファイルがオープンできませんでした.\n";

// --- Local addresses -----------------------------------------------------------
// More local addresses than the list holds: how many were left out.
inline constexpr const char* fmt_addresses_left_out = "%d more local addresses are not listed.\n";
inline constexpr const char* msg_host_name_failed =
    "gethostname() が失敗しました. IPアドレスがありません.\n";
inline constexpr const char* msg_host_lookup_failed =
    "::gethostbyname() が失敗しました. 設定を確認してください.\n";

// --- Command line (the -i, -p and -w messages end without a line end) ----------
inline constexpr const char* msg_bad_bind_address =
    "ERR: bind 正しいIPアドレスを指定してください.\n";
inline constexpr const char* msg_missing_log_name = "ERR: -f ファイル名を指定してください.\n";
inline constexpr const char* msg_bad_filter_address = "ERR: -i IPアドレスを正しく指定してください.";
inline constexpr const char* msg_bad_filter_port = "ERR: -p ポート番号を正しく指定してください.";
inline constexpr const char* msg_bad_filter_width =
    "ERR: -w IPアドレスの幅を正しく指定してください.";
// A name longer than its buffer: the option, then the most bytes it takes.
inline constexpr const char* fmt_name_too_long = "ERR: %s: the name is longer than %d bytes.\n";
// A long option (--read, --save, --count, --user) without its value.
inline constexpr const char* fmt_missing_value = "ERR: %s needs a value.\n";
inline constexpr const char* msg_bad_count =
    "ERR: --count takes a number from 1 to 9223372036854775808.\n";

// --- The set-up dialogue -------------------------------------------------------
inline constexpr const char* msg_ask_log_file =
    "ログをファイルに書き出しますか [Y]/N \n"
    "※ログファイルを取得すると速度向上の為画面描画が簡素化されます.";
inline constexpr const char* msg_enter_log_name = "ログファイル名を入力してください.\n";
// A log file name answer longer than the buffer: it is asked for again.
inline constexpr const char* fmt_log_name_answer_too_long =
    "The name is longer than %d bytes; enter a shorter one.\n";
inline constexpr const char* msg_ask_address_filter = "IPアドレスでフィルタリングしますか [Y]/N ";
inline constexpr const char* msg_enter_filter_address = "収集したいIPアドレスを入力してください.\n";
inline constexpr const char* fmt_filter_address_confirm = "%08X でフィルタリングします.\n";
inline constexpr const char* msg_enter_address_count = "このIPアドレスから何個取りますか？\n";
inline constexpr const char* fmt_address_count_confirm = "%d 個取ります。.\n";
inline constexpr const char* msg_ask_port_filter = "ポート番号でフィルタリングしますか Y/[N] ";
inline constexpr const char* msg_enter_filter_port = "収集したいポート番号を入力してください.\n";
inline constexpr const char* fmt_filter_port_confirm = "%08d番ポートでフィルタリングします.\n";
inline constexpr const char* msg_ask_show_detail = "ヘッダの詳細は必要ですか [Y]/N ";
inline constexpr const char* msg_ask_show_dump = "バイナリダンプ出力は必要ですか [Y]/N ";
inline constexpr const char* fmt_choose_address =
    " %dのネットワークが見つかりました.選択して下さい.:";
inline constexpr const char* msg_choose_address_failed = "IPアドレスを選択してください.\n";
// Standard input ended before a question that has no default was answered.
inline constexpr const char* msg_input_ended = "入力が終了しました. 設定を中止します.\n";
