#!/usr/bin/python3
"""Fills a Maildir with the demo mailbox: a few hundred varied messages in the five folders
Inbox, Drafts, Sent, Junk and Deleted.

The messages cover what real mailboxes hold and what the list and the spreadsheet must cope
with: several languages and character sets (English, German in ISO-8859-1, French, Russian in
KOI8-R and UTF-8, Japanese in ISO-2022-JP and UTF-8, Greek), plain and multipart/alternative
messages with HTML, base64 and quoted-printable parts, short and very long bodies (some over
40,000 characters), bodies and subjects that start with "=", RFC 2047 encoded subjects and
sender names, and dates spread over several years. The output depends only on the seed.

Usage: demo-mail.py MAILDIR [--owner UID:GID] [--user ADDRESS] [--seed N]

Only Python's standard library is used (run it with /usr/bin/python3).
"""

import argparse
import base64
import datetime
import os
import quopri
import random
import sys
from email.header import Header

FOLDERS = [  # (name, number of messages)
    ("Inbox", 240),
    ("Drafts", 24),
    ("Sent", 64),
    ("Junk", 40),
    ("Deleted", 32),
]

FIRST_DAY = datetime.datetime(2021, 3, 1, tzinfo=datetime.timezone.utc)
LAST_DAY = datetime.datetime(2024, 11, 30, tzinfo=datetime.timezone.utc)

# ---------------------------------------------------------------------------------------------
# Text material, one block per language. "charsets" are the encodings a message in that
# language is written in (chosen at random per message); every text of the block must be
# representable in each of them.

LANGUAGES = {
    "en": {
        "charsets": ["us-ascii", "utf-8", "iso-8859-1"],
        "people": [
            ("Alice Johnson", "alice.johnson@mail.example.com"),
            ("Bob Smith", "bob.smith@example.net"),
            ("Carol O'Neill", "carol.oneill@example.org"),
            ("Doe, Jane", "jane.doe@corp.example.com"),
            ("Edward Park", "edward.park@example.net"),
            ("Fiona McAllister", "fiona@studio.example.org"),
            ("", "noreply@billing.example.com"),
            ("Project Bot", "bot+builds@ci.example.net"),
        ],
        "subjects": [
            "Meeting notes from Tuesday",
            "Quarterly report draft",
            "Lunch on Friday?",
            "Your invoice #{n} is ready",
            "Travel plans for the conference",
            "Build {n} failed on main",
            "Welcome to the team!",
            "Budget = 1,200 EUR (final)",
            "=SUM(A1:A3) does not add up",
            "Question about the contract, clause 4(b)",
            "Photos from the weekend",
            "Reminder: dentist appointment",
            "What does =?x?= mean in a header?",
            "a=b; c=d -- configuration change",
        ],
        "greeting": ["Hi {first},", "Hello {first},", "Dear {first},", "Morning {first}!"],
        "closing": ["Best regards,", "Cheers,", "Thanks,", "Kind regards,"],
        "sentences": [
            "I went through the numbers again and the totals now match the bank statement.",
            "Could you have a look at the attached summary before the call tomorrow?",
            "The train leaves at 7:42, so we should meet at the station around half past seven.",
            "We moved the review to Thursday because half of the team is out on Wednesday.",
            "Please remember to update the shared calendar when you book the meeting room.",
            "The printer on the second floor is broken again; facilities have been notified.",
            "Our new office will have a kitchen, two meeting rooms and a very small garden.",
            "I am not sure the estimate covers testing, so I added two more days to be safe.",
            "Thanks for the quick reply, that answers most of my questions.",
            "The weather forecast says rain all weekend, so the hike is postponed.",
            "Let me know if anything in the draft is unclear or simply wrong.",
            "Attendance was good: forty-two people signed up and thirty-nine came.",
            "The invoice lists 3 items at 19.99 each plus shipping of 4.50.",
            "Next steps: finish the slides, send them round, collect comments by Monday.",
        ],
    },
    "de": {
        "charsets": ["iso-8859-1", "iso-8859-1", "utf-8", "iso-8859-15"],
        "people": [
            ("Jürgen Müller", "juergen.mueller@example.com"),
            ("Käthe Weiß", "kaethe.weiss@example.net"),
            ("Björn Schäfer", "bjoern@werkstatt.example.org"),
            ("Grüße-Team Süd", "team-sued@example.com"),
            ("Dörte Großmann", "doerte.grossmann@example.org"),
        ],
        "subjects": [
            "Überweisung für März",
            "Grüße aus München",
            "Termin am Donnerstag - bitte bestätigen",
            "Änderungen am Vertrag",
            "AW: Rückfrage zur Lieferung",
            "Frühstück im Büro",
            "Straßenfest: Helfer gesucht",
            "Kostenübersicht = 3.450 Euro",
        ],
        "greeting": ["Hallo {first},", "Liebe Grüße vorab, {first}!", "Sehr geehrte Damen und Herren,"],
        "closing": ["Viele Grüße", "Mit freundlichen Grüßen", "Schöne Grüße"],
        "sentences": [
            "Die Überweisung ist heute früh rausgegangen, bitte prüf kurz den Eingang.",
            "Wir treffen uns um halb neun vor dem Büro in der Schloßstraße.",
            "Könntest du die Änderungen bis Freitag durchsehen und mir Bescheid geben?",
            "Das Wetter in München war großartig, wir waren jeden Tag draußen.",
            "Für die Straßenfeier brauchen wir noch Tische, Bänke und ein paar Helfer.",
            "Der Kostenvoranschlag enthält die Prüfung der Heizungsanlage nicht.",
            "Über die Größe der Räume können wir gern noch einmal sprechen.",
            "Bitte vergiss nicht, die Schlüssel beim Hausmeister abzugeben.",
            "Die Lieferung verzögert sich leider um zwei Wochen, Grund sind fehlende Teile.",
            "Ich wünsche dir ein schönes Wochenende und gute Erholung.",
        ],
    },
    "fr": {
        "charsets": ["iso-8859-15", "utf-8", "windows-1252"],
        "people": [
            ("Hélène Dubois", "helene.dubois@example.com"),
            ("François Lefèvre", "francois.lefevre@example.net"),
            ("Zoé Mercier", "zoe.mercier@example.org"),
            ("Cédric Bœuf", "cedric.boeuf@example.com"),
        ],
        "subjects": [
            "Réunion de rentrée",
            "TR: Facture n° {n}",
            "Vacances à la mer : photos",
            "Où en est le dossier ?",
            "Œuvres prêtées au musée",
            "Déjeuner vendredi à midi",
            "Prix = 45 € TTC, à confirmer",
        ],
        "greeting": ["Bonjour {first},", "Chère {first},", "Salut {first} !"],
        "closing": ["Bien cordialement,", "À bientôt,", "Je vous prie d'agréer mes salutations distinguées."],
        "sentences": [
            "La réunion aura lieu dans la salle du deuxième étage, à côté de l'ascenseur.",
            "Nous avons reçu votre facture et le paiement sera effectué d'ici la fin du mois.",
            "Les enfants ont adoré la plage, même si l'eau était un peu fraîche.",
            "Pourriez-vous m'envoyer le document révisé avant jeudi soir ?",
            "Le cœur du problème reste le délai de livraison annoncé par le fournisseur.",
            "Ça fait longtemps ! Comment se passe ta nouvelle vie à Montréal ?",
            "Le prix indiqué comprend la TVA, mais pas les frais de port.",
            "Nous vous remercions de votre confiance et restons à votre disposition.",
        ],
    },
    "ru": {
        "charsets": ["koi8-r", "koi8-r", "utf-8", "windows-1251"],
        "people": [
            ("Иван Петров", "ivan.petrov@example.com"),
            ("Анна Смирнова", "anna.smirnova@example.net"),
            ("Сергей Волков", "sergey.volkov@example.org"),
            ("Ольга Кузнецова", "olga.k@example.com"),
        ],
        "subjects": [
            "Отчёт за квартал",
            "Встреча в понедельник",
            "Re: Счёт {n} к оплате",
            "Поздравляю с днём рождения!",
            "Фотографии с дачи",
            "Итого = 15 000 рублей",
        ],
        "greeting": ["Здравствуйте, {first}!", "Привет, {first}!", "Уважаемые коллеги,"],
        "closing": ["С уважением,", "Всего доброго,", "До встречи,"],
        "sentences": [
            "Отчёт за третий квартал готов, посмотрите, пожалуйста, таблицу в приложении.",
            "Встреча переносится на понедельник, в десять часов утра.",
            "Погода на даче была чудесная, мы собрали целое ведро яблок.",
            "Счёт оплачен вчера, копию платёжного поручения пришлю отдельно.",
            "Спасибо за быстрый ответ, это очень помогло.",
            "Не забудьте взять с собой паспорт и билеты.",
            "Новый сотрудник начнёт работать с первого числа следующего месяца.",
            "Если будут вопросы, звоните в любое время.",
        ],
    },
    "ja": {
        "charsets": ["iso-2022-jp", "iso-2022-jp", "utf-8", "shift_jis"],
        "people": [
            ("山田 太郎", "taro.yamada@example.com"),
            ("佐藤 花子", "hanako.sato@example.net"),
            ("鈴木 一郎", "ichiro.suzuki@example.org"),
            ("田中 美咲", "misaki.tanaka@example.com"),
        ],
        "subjects": [
            "会議の日程について",
            "見積書の送付",
            "Re: 出張の件",
            "新年のご挨拶",
            "写真を送ります",
            "合計＝１２，０００円",
        ],
        "greeting": ["{first}様", "{first}さん、こんにちは。", "お世話になっております。"],
        "closing": ["よろしくお願いいたします。", "以上です。", "今後ともよろしくお願いします。"],
        "sentences": [
            "来週の会議は火曜日の午後二時から始まります。",
            "見積書を添付いたしましたので、ご確認ください。",
            "出張の予定が決まりましたら、改めてご連絡いたします。",
            "先日はお忙しいところありがとうございました。",
            "東京は今日もとても暑いです。体調に気をつけてください。",
            "資料の修正版を金曜日までにお送りします。",
            "ご不明な点がございましたら、お気軽にお問い合わせください。",
            "新しい事務所は駅から徒歩五分のところにあります。",
        ],
    },
    "el": {
        "charsets": ["iso-8859-7", "utf-8"],
        "people": [
            ("Γιώργος Παπαδόπουλος", "giorgos.papadopoulos@example.com"),
            ("Μαρία Ιωάννου", "maria.ioannou@example.net"),
            ("Νίκος Αλεξίου", "nikos.alexiou@example.org"),
        ],
        "subjects": [
            "Συνάντηση την Πέμπτη",
            "Τιμολόγιο αριθμός {n}",
            "Καλό καλοκαίρι!",
            "Ερώτηση για το έργο",
            "Σύνολο = 250 ευρώ",
        ],
        "greeting": ["Γεια σου {first},", "Αγαπητή {first},", "Καλημέρα {first},"],
        "closing": ["Με εκτίμηση,", "Φιλικά,", "Τα λέμε σύντομα,"],
        "sentences": [
            "Η συνάντηση θα γίνει την Πέμπτη στις δέκα το πρωί στο γραφείο.",
            "Σας στέλνω το τιμολόγιο για τις υπηρεσίες του προηγούμενου μήνα.",
            "Ο καιρός στη Θεσσαλονίκη είναι υπέροχος αυτή την εβδομάδα.",
            "Μπορείτε να μου στείλετε τα έγγραφα μέχρι την Παρασκευή;",
            "Ευχαριστώ πολύ για τη βοήθεια και την υπομονή σας.",
            "Το έργο προχωράει κανονικά και θα τελειώσει στην ώρα του.",
        ],
    },
}

# How often each language appears, per folder.
LANGUAGE_WEIGHTS = {"en": 40, "de": 15, "fr": 12, "ru": 12, "ja": 11, "el": 10}

JUNK_SUBJECTS = [
    "YOU HAVE WON!!! Claim your prize now",
    "=?? Cheap watches ??=",
    "Urgent: verify your account within 24 hours",
    "Ｆｒｅｅ ｇｉｆｔ ｃａｒｄ 🎁",
    "Ваш выигрыш ждёт вас",
    "=1+1 Buy now, pay never",
    "Re: Re: Re: your parcel is waiting",
    "Lose weight fast – 100% natural",
    "おめでとうございます！当選のお知らせ",
]
JUNK_SENDERS = [
    ("Prize Department", "winner@lottery.example"),
    ("Security Team", "security@bank-verify.example"),
    ("", "deals@shop.example"),
    ("Παράδοση Δεμάτων", "parcel@delivery.example"),
    ("Служба поддержки", "support@promo.example"),
]
JUNK_SENTENCES = [
    "Click the link below to claim your reward before it expires.",
    "This offer is valid for a limited time only!!!",
    "Your account will be suspended unless you confirm your details today.",
    "No prescription needed. Discreet shipping worldwide.",
    "To unsubscribe, reply with the word STOP in the subject line.",
]

# Bodies that begin with "=" (spreadsheet programs take such a cell for a formula).
EQUALS_OPENINGS = [
    "=SUM(B2:B9) is the figure we agreed on for the second quarter.",
    "=== Weekly summary ===",
    "==> Forwarded message follows",
    "=HYPERLINK(\"http://example.com\",\"click here\")",
    "=?utf-8?q?this_is_not_a_header?= but plain text that looks like one.",
    "= 42, as you said.",
]

# ---------------------------------------------------------------------------------------------
# Encoding helpers.

PYTHON_CODEC = {"us-ascii": "ascii", "shift_jis": "shift_jis", "iso-2022-jp": "iso2022_jp"}


def encode_text(text, charset):
    return text.encode(PYTHON_CODEC.get(charset, charset))


def encoded_words(text, charset, method):
    """RFC 2047 encoded words for text in charset, method "B" or "Q", each at most 75
    characters, split only between characters."""
    if charset == "iso-2022-jp":
        # Each word must return to ASCII on its own: the library does that correctly.
        return Header(text, "iso-2022-jp").encode()
    words = []
    chunk = ""
    for ch in text:
        candidate = chunk + ch
        if len(_word(candidate, charset, method)) > 75:
            words.append(_word(chunk, charset, method))
            chunk = ch
        else:
            chunk = candidate
    if chunk:
        words.append(_word(chunk, charset, method))
    return "\n ".join(words)


def _word(text, charset, method):
    raw = encode_text(text, charset)
    if method == "B":
        payload = base64.b64encode(raw).decode("ascii")
    else:
        payload = ""
        for byte in raw:
            c = chr(byte)
            if c == " ":
                payload += "_"
            elif c.isalnum() and byte < 128:
                payload += c
            else:
                payload += "=%02X" % byte
    return "=?%s?%s?%s?=" % (charset, method, payload)


def header_text(text, charset, rng):
    """A header value: plain when ASCII, otherwise encoded words (B or Q at random)."""
    if all(ord(c) < 128 for c in text):
        return text
    if charset == "us-ascii":
        charset = "utf-8"
    return encoded_words(text, charset, rng.choice("BQ"))


def address(name, addr, charset, rng):
    if not name:
        return addr if rng.random() < 0.5 else "<%s>" % addr
    if all(ord(c) < 128 for c in name):
        special = any(c in name for c in ',.;:"()<>@[]\'')
        return '"%s" <%s>' % (name.replace('"', '\\"'), addr) if special else "%s <%s>" % (name, addr)
    return "%s <%s>" % (header_text(name, charset, rng), addr)


def fold_base64(raw):
    text = base64.b64encode(raw).decode("ascii")
    return "\n".join(text[i:i + 76] for i in range(0, len(text), 76)) + "\n"


def body_part(text, subtype, charset, transfer):
    """Headers and encoded content of one text part (str)."""
    raw = encode_text(text, charset)
    headers = "Content-Type: text/%s; charset=%s\n" % (subtype, charset if charset != "us-ascii" else "us-ascii")
    if transfer == "base64":
        content = fold_base64(raw)
    elif transfer == "quoted-printable":
        content = quopri.encodestring(raw).decode("ascii")
        if not content.endswith("\n"):
            content += "\n"
    else:
        if charset == "iso-2022-jp" or all(b < 128 for b in raw):
            transfer = "7bit"
        else:
            transfer = "8bit"
        content = raw.decode("latin-1")  # bytes carried as they are; written back as latin-1
        if not content.endswith("\n"):
            content += "\n"
    headers += "Content-Transfer-Encoding: %s\n" % transfer
    return headers, content


# ---------------------------------------------------------------------------------------------
# Message building.


def first_name(name, language):
    if not name:
        return "there"
    if language == "ja":
        return name.split()[0]
    if "," in name:
        return name.split(",")[1].strip()
    return name.split()[0]


def make_body(rng, language, sender_first, signer, length, equals_opening):
    block = LANGUAGES[language]
    lines = []
    if equals_opening:
        lines.append(equals_opening)
        lines.append("")
    lines.append(rng.choice(block["greeting"]).format(first=sender_first))
    lines.append("")
    text_len = sum(len(line) + 1 for line in lines)
    paragraph_no = 0
    while text_len < length:
        count = rng.randint(2, 5)
        paragraph = " ".join(rng.choice(block["sentences"]) for _ in range(count))
        if language == "ja":
            paragraph = paragraph.replace(" ", "")
        paragraph_no += 1
        if length > 3000 and paragraph_no % 7 == 0:
            lines.append("%d. ----------------------------------------" % (paragraph_no // 7))
        lines.append(paragraph)
        lines.append("")
        text_len += len(paragraph) + 2
    lines.append(rng.choice(block["closing"]))
    lines.append(signer)
    return "\n".join(lines)


def to_html(text, title):
    def esc(s):
        return s.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")

    paragraphs = [p for p in text.split("\n\n") if p.strip()]
    body = "\n".join("<p>%s</p>" % esc(p).replace("\n", "<br>\n") for p in paragraphs)
    return (
        "<!DOCTYPE html>\n<html><head><meta charset=\"{cs}\"><title>%s</title>\n"
        "<style>body{font-family:Arial,sans-serif} td{border:1px solid #ccc;padding:2px 6px}</style>"
        "</head>\n<body>\n%s\n<table><tr><td>Item</td><td>Amount&nbsp;&euro;</td></tr>"
        "<tr><td>Total</td><td>1&nbsp;234,56</td></tr></table>\n"
        "<p><a href=\"https://www.example.com/\">www.example.com</a></p>\n</body></html>" % (esc(title), body)
    )


def choose_length(rng, force_huge):
    if force_huge:
        return rng.randint(40_500, 60_000)
    roll = rng.random()
    if roll < 0.45:
        return rng.randint(120, 800)
    if roll < 0.72:
        return rng.randint(800, 3000)
    if roll < 0.97:
        return rng.randint(3100, 9000)
    return rng.randint(12_000, 25_000)


def build_message(rng, n, folder, user, date, huge):
    """One message as text whose characters are the file's bytes (latin-1 mapping)."""
    junk = folder == "Junk"
    language = rng.choices(list(LANGUAGE_WEIGHTS), weights=list(LANGUAGE_WEIGHTS.values()))[0]
    block = LANGUAGES[language]
    charset = rng.choice(block["charsets"])
    person = rng.choice(block["people"])
    me = ("Demo User", user)

    if junk:
        sender = rng.choice(JUNK_SENDERS)
        subject = rng.choice(JUNK_SUBJECTS)
        charset = "utf-8"
    else:
        sender = me if folder in ("Sent", "Drafts") else person
        subject = rng.choice(block["subjects"]).format(n=10000 + n)
        if rng.random() < 0.15 and folder != "Drafts":
            subject = rng.choice(["Re: ", "Fwd: ", "RE: ", "AW: ", "TR: "]) + subject
    recipient = person if sender is me else me

    length = choose_length(rng, huge)
    equals_opening = rng.choice(EQUALS_OPENINGS) if rng.random() < 0.07 else None
    if junk:
        text = "\n\n".join(rng.choice(JUNK_SENTENCES) for _ in range(rng.randint(2, 6)))
        if equals_opening:
            text = equals_opening + "\n\n" + text
    else:
        greeted = first_name(recipient[0], language) if sender is me else first_name("Demo User", "en")
        signer = sender[0] or sender[1]
        text = make_body(rng, language, greeted, signer, length, equals_opening)

    headers = []
    if rng.random() < 0.25:
        headers.append("Return-Path: <%s>" % sender[1])
    if not (folder == "Drafts" and n % 11 == 5):  # a draft or two without a date
        headers.append("Date: " + date.strftime("%a, %d %b %Y %H:%M:%S %z"))
    headers.append("From: " + address(sender[0], sender[1], charset, rng))
    headers.append("To: " + address(recipient[0], recipient[1], charset, rng))
    if rng.random() < 0.1:
        other = rng.choice(LANGUAGES["en"]["people"])
        headers.append("Cc: " + address(other[0], other[1], "us-ascii", rng))
    if not (folder == "Drafts" and n % 7 == 3):  # and one without a subject
        headers.append("Subject: " + header_text(subject, charset, rng))
    headers.append("Message-ID: <demo.%d.%s@corvanel.test>" % (n, folder.lower()))
    headers.append("MIME-Version: 1.0")
    if junk:
        headers.append("X-Spam-Flag: YES")
    if folder == "Drafts":
        headers.append("X-Mozilla-Draft-Info: internal/draft; vcard=0; receipt=0")

    transfer = rng.choices(["plain", "quoted-printable", "base64"], weights=[45, 35, 20])[0]
    if charset == "iso-2022-jp" and transfer == "quoted-printable":
        transfer = "plain"
    if equals_opening and transfer == "base64":
        transfer = "quoted-printable"  # the "=" then travels as =3D
    if transfer == "plain" and any(len(encode_text(line, charset)) > 900 for line in text.split("\n")):
        transfer = "quoted-printable"
    kind = rng.choices(["plain", "alternative", "html-only", "mixed"], weights=[50, 38, 4, 8])[0]

    if kind == "plain":
        part_headers, content = body_part(text, "plain", charset, transfer)
        return "\n".join(headers) + "\n" + part_headers + "\n" + content
    boundary = "=_corvanel_demo_%06d" % n
    html_charset = "utf-8" if charset in ("iso-2022-jp", "shift_jis") else charset
    html = to_html(text, subject).replace("{cs}", html_charset)
    if kind == "html-only":
        part_headers, content = body_part(html, "html", html_charset, rng.choice(["quoted-printable", "base64"]))
        return "\n".join(headers) + "\n" + part_headers + "\n" + content
    plain_headers, plain = body_part(text, "plain", charset, transfer)
    html_headers, html_content = body_part(html, "html", html_charset, rng.choice(["quoted-printable", "base64"]))
    alternative = (
        "--%s\n%s\n%s--%s\n%s\n%s--%s--\n"
        % (boundary, plain_headers, plain, boundary, html_headers, html_content, boundary)
    )
    if kind == "alternative":
        return (
            "\n".join(headers)
            + '\nContent-Type: multipart/alternative; boundary="%s"\n\n' % boundary
            + "This is a multi-part message in MIME format.\n\n"
            + alternative
        )
    outer = "=_corvanel_demo_mixed_%06d" % n
    attachment = ("Date;Amount\n2023-01-01;10.00\n2023-02-01;12.50\n2023-03-01;=1+2\n" * 8).encode("ascii")
    return (
        "\n".join(headers)
        + '\nContent-Type: multipart/mixed; boundary="%s"\n\n' % outer
        + "--%s\n" % outer
        + 'Content-Type: multipart/alternative; boundary="%s"\n\n' % boundary
        + alternative
        + "\n--%s\n" % outer
        + 'Content-Type: text/csv; name="figures.csv"\n'
        + 'Content-Disposition: attachment; filename="figures.csv"\n'
        + "Content-Transfer-Encoding: base64\n\n"
        + fold_base64(attachment)
        + "--%s--\n" % outer
    )


# ---------------------------------------------------------------------------------------------
# Maildir output.


def folder_path(root, folder):
    return root if folder.lower() == "inbox" else os.path.join(root, "." + folder.replace("/", "."))


def own(path, owner):
    if owner is not None:
        os.chown(path, owner[0], owner[1])


def make_folder(root, folder, owner):
    path = folder_path(root, folder)
    dirs = [root] + ([path] if path != root else []) + [os.path.join(path, d) for d in ("cur", "new", "tmp")]
    for d in dirs:
        os.makedirs(d, exist_ok=True)
        os.chmod(d, 0o755)
        own(d, owner)
    if path != root:
        marker = os.path.join(path, "maildirfolder")
        open(marker, "a").close()
        own(marker, owner)
    return path


def spread_dates(rng, count):
    """count dates between FIRST_DAY and LAST_DAY, ascending, in varied time zones."""
    span = int((LAST_DAY - FIRST_DAY).total_seconds())
    seconds = sorted(rng.sample(range(span), count))
    zones = [0, 60, 120, -300, -240, 180, 540, 330, -420, 600]
    result = []
    for s in seconds:
        utc = FIRST_DAY + datetime.timedelta(seconds=s)
        zone = datetime.timezone(datetime.timedelta(minutes=rng.choice(zones)))
        result.append(utc.astimezone(zone))
    return result


def write_folder(rng, root, folder, count, user, owner, serial):
    path = make_folder(root, folder, owner)
    dates = spread_dates(rng, count)
    # The largest bodies: a few in the inbox, one in each other folder (never in Junk).
    huge = set()
    if folder == "Inbox":
        huge = set(rng.sample(range(count), 5))
    elif folder != "Junk":
        huge = {rng.randrange(count)}
    for i, date in enumerate(dates):
        serial += 1
        message = build_message(rng, serial, folder, user, date, i in huge)
        raw = message.encode("latin-1")
        flags = ""
        if folder == "Drafts":
            flags = "D"
        elif folder in ("Sent", "Deleted") or i < count * 0.8:
            flags = "S"
        if folder == "Inbox" and rng.random() < 0.06:
            flags += "F"
        stamp = int(date.timestamp())
        # The server numbers new files by the time stamp that starts the name: the dates
        # ascend, so message numbers follow the dates.
        unique = "%d.M%06dQ%d.corvanel-demo" % (stamp, serial % 1000000, serial)
        temp = os.path.join(path, "tmp", unique)
        with open(temp, "wb") as f:
            f.write(raw)
        os.utime(temp, (stamp, stamp))
        own(temp, owner)
        os.rename(temp, os.path.join(path, "cur", unique + ":2," + "".join(sorted(flags))))
    return serial


def check_material():
    """Every text of a language block must be writable in each of the block's character sets."""
    for language, block in LANGUAGES.items():
        texts = block["subjects"] + block["greeting"] + block["closing"] + block["sentences"]
        texts += [name for name, _ in block["people"]]
        for charset in block["charsets"]:
            for text in texts:
                try:
                    encode_text(text, charset)
                except UnicodeEncodeError:
                    sys.exit("demo-mail: %r cannot be written in %s (%s)" % (text, charset, language))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("maildir", help="the Maildir root (created when missing)")
    parser.add_argument("--owner", help="UID:GID that the files and folders are given")
    parser.add_argument("--user", default="demo@corvanel.test", help="the mailbox owner's address")
    parser.add_argument("--seed", type=int, default=20240229)
    args = parser.parse_args()
    owner = None
    if args.owner:
        uid, gid = args.owner.split(":")
        owner = (int(uid), int(gid))
    check_material()
    rng = random.Random(args.seed)
    serial = 0
    summary = []
    for folder, count in FOLDERS:
        serial = write_folder(rng, args.maildir, folder, count, args.user, owner, serial)
        summary.append("%s %d" % (folder, count))
    print("demo-mail: " + ", ".join(summary), file=sys.stderr)


if __name__ == "__main__":
    main()
