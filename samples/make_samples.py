#!/usr/bin/env python3
"""Writes the sample mails of the sandbox, with CR LF line ends as the host stores them.
Run it again to get the same bytes."""
import base64
import os
import quopri

HERE = os.path.dirname(os.path.abspath(__file__))

JAPANESE = (
    "Velmora のテストメールです。\n"
    "漢字、ひらがな、カタカナ：東京都千代田区、ありがとうございます、コンピューター。\n"
    "CP932 にない文字：𠮷野家の「𠮷」、絵文字 😀 🎉 🍣、丸数字 ①②③ は CP932 にある。\n"
    "Accents: café, naïve, Ångström, Dvořák, Łódź, São Paulo.\n"
    "\n"
    "-- \n"
    "送信者より\n"
)


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n")


def header(subject, content_type, encoding=None, extra=""):
    lines = [
        "From: =?UTF-8?B?" + base64.b64encode("差出人".encode()).decode() + "?= <sender@example.jp>",
        "To: reader@example.jp",
        "Subject: " + subject,
        "Date: Tue, 08 Dec 2026 09:00:00 +0900",
        "Message-ID: <" + subject.replace(" ", "-") + "@example.jp>",
        "MIME-Version: 1.0",
        "Content-Type: " + content_type,
    ]
    if encoding:
        lines.append("Content-Transfer-Encoding: " + encoding)
    return "\n".join(lines) + "\n" + extra + "\n"


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


def b64_lines(data):
    text = base64.b64encode(data).decode()
    return "\n".join(text[i:i + 76] for i in range(0, len(text), 76)) + "\n"


def main():
    body = JAPANESE.encode("utf-8")
    write("01-utf8-8bit.eml",
          crlf(header("UTF-8 8bit", "text/plain; charset=UTF-8", "8bit")).encode() + crlf(JAPANESE).encode("utf-8"))
    qp = quopri.encodestring(crlf(JAPANESE).encode("utf-8")).decode().replace("\r\n", "\n")
    write("02-utf8-quoted-printable.eml",
          crlf(header("UTF-8 quoted-printable", "text/plain; charset=\"utf-8\"", "quoted-printable") + qp).encode())
    write("03-utf8-base64.eml",
          crlf(header("UTF-8 base64", "text/plain; charset=utf-8", "base64")
               + b64_lines(crlf(JAPANESE).encode("utf-8"))).encode())
    html = "<html><body><p>" + JAPANESE.replace("\n", "<br>\n") + "</p></body></html>\n"
    alternative = (
        header("multipart alternative", "multipart/alternative;\n\tboundary=\"=_velmora_alt\"")
        + "This is a multi-part message in MIME format.\n"
        + "--=_velmora_alt\n"
        + "Content-Type: text/plain\n"
        + "Content-Transfer-Encoding: base64\n\n"
        + b64_lines(crlf(JAPANESE).encode("utf-8"))
        + "--=_velmora_alt\n"
        + "Content-Type: text/html; charset=UTF-8\n"
        + "Content-Transfer-Encoding: 8bit\n\n")
    write("04-multipart-alternative.eml",
          crlf(alternative).encode() + crlf(html).encode("utf-8") + b"\r\n--=_velmora_alt--\r\n")
    jis_text = "ISO-2022-JP のメールです。漢字とかなは CP932 に収まります。\n"
    write("05-iso-2022-jp.eml",
          crlf(header("ISO-2022-JP", "text/plain; charset=ISO-2022-JP", "7bit")).encode()
          + crlf(jis_text).encode("iso2022_jp"))
    sjis_text = "Shift_JIS のメールです。ホストの表示で足ります。\n"
    write("06-shift-jis.eml",
          crlf(header("Shift_JIS", "text/plain; charset=Shift_JIS", "8bit")).encode()
          + crlf(sjis_text).encode("cp932"))
    # A mail as today's clients send one with an attachment: the text and HTML
    # alternatives inside a multipart/mixed, then a base64 file.
    csv = "品名,数量\nりんご,3\nみかん,12\n"
    mixed = (
        header("multipart mixed attachment", "multipart/mixed;\n\tboundary=\"=_velmora_mixed\"")
        + "This is a multi-part message in MIME format.\n"
        + "--=_velmora_mixed\n"
        + "Content-Type: multipart/alternative;\n\tboundary=\"=_velmora_alt\"\n\n"
        + "--=_velmora_alt\n"
        + "Content-Type: text/plain; charset=UTF-8\n"
        + "Content-Transfer-Encoding: quoted-printable\n\n"
        + quopri.encodestring(JAPANESE.encode("utf-8")).decode()
        + "--=_velmora_alt\n"
        + "Content-Type: text/html; charset=UTF-8\n"
        + "Content-Transfer-Encoding: quoted-printable\n\n"
        + quopri.encodestring(html.encode("utf-8")).decode()
        + "--=_velmora_alt--\n\n"
        + "--=_velmora_mixed\n"
        + "Content-Type: text/csv; charset=UTF-8; name=\"order.csv\"\n"
        + "Content-Disposition: attachment; filename=\"order.csv\"\n"
        + "Content-Transfer-Encoding: base64\n\n"
        + b64_lines(crlf(csv).encode("utf-8"))
        + "--=_velmora_mixed--\n")
    write("07-multipart-mixed-attachment.eml", crlf(mixed).encode())
    latin2_text = (
        "Wiadomość w ISO-8859-2.\n"
        "Łódź, Kraków, Gdańsk: zażółć gęślą jaźń.\n"
        "Dvořák, Brno: Příliš žluťoučký kůň úpěl ďábelské ódy.\n")
    write("08-iso-8859-2.eml",
          crlf(header("ISO-8859-2", "text/plain; charset=ISO-8859-2", "quoted-printable")).encode()
          + crlf(quopri.encodestring(latin2_text.encode("iso8859_2")).decode()).encode())
    korean_text = "안녕하세요. Velmora 의 테스트 메일입니다.\n서울특별시 중구, 감사합니다.\n"
    write("09-euc-kr.eml",
          crlf(header("EUC-KR", "text/plain; charset=EUC-KR", "8bit")).encode()
          + crlf(korean_text).encode("euc_kr"))
    # A mail written only in HTML, as notices and newsletters come: a style sheet, a table,
    # a list, a link, references, and characters CP932 lacks.
    html_only = (
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>ご注文の確認</title>\n"
        "<style>td { padding: 4px; } .note { color: #888; }</style></head>\n"
        "<body>\n<h1>ご注文ありがとうございます</h1>\n"
        "<p>Velmora&nbsp;様、以下の内容でご注文を承りました。</p>\n"
        "<table>\n<tr><th>品名</th><th>数量</th><th>価格</th></tr>\n"
        "<tr><td>𠮷野家の器</td><td>2</td><td>&yen;1,200</td></tr>\n"
        "<tr><td>Crème brûlée</td><td>1</td><td>&euro;4.50</td></tr>\n</table>\n"
        "<ul>\n<li>お届け：Łódź, Dvořák 通り 3</li>\n<li>包装：🎁 ギフト用</li>\n</ul>\n"
        "<p>ご注文の状況は <a href=\"https://shop.example.jp/orders/1234\">注文履歴</a> で"
        "確認できます。</p>\n"
        "<p class=\"note\">このメールは送信専用です &mdash; 返信はできません。</p>\n"
        "<script>track();</script>\n</body></html>\n")
    write("10-html-only.eml",
          crlf(header("HTML only", "text/html; charset=UTF-8", "quoted-printable")
               + quopri.encodestring(html_only.encode("utf-8")).decode()).encode())
    # Header fields as modern mail writes them: an emoji Subject in two encoded-words split
    # over a fold, a Hangul From in Q, an ISO-2022-JP name and raw UTF-8 among addresses.
    subject = "🎉 Velmora 週末セール 🍣 本日まで".encode()
    hangul = "".join("=%02X" % b for b in "김민준".encode())
    headers_mail = "\n".join([
        "From: =?UTF-8?Q?" + hangul + "?= <minjun@example.kr>",
        "To: =?ISO-2022-JP?B?" + base64.b64encode("山田太郎".encode("iso2022_jp")).decode()
        + "?= <taro@example.jp>,\n reader@example.jp",
        "Cc: \"Dvořák, Antonín\" <dvorak@example.cz>",
        "Subject: =?UTF-8?B?" + base64.b64encode(subject[:13]).decode() + "?=\n =?UTF-8?B?"
        + base64.b64encode(subject[13:]).decode() + "?=",
        "Date: Wed, 09 Dec 2026 18:30:00 +0900",
        "Message-ID: <headers@example.kr>",
        "MIME-Version: 1.0",
        "Content-Type: text/plain; charset=UTF-8",
        "Content-Transfer-Encoding: 8bit",
    ]) + "\n\n"
    write("11-headers.eml", crlf(headers_mail + "今週末のセールのお知らせです。\n안녕하세요! 🍣\n").encode())


if __name__ == "__main__":
    main()
