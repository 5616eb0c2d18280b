"""Screenshots: settings windows with a side menu, dialogs with button rows, web articles with side columns."""

from page import Page

CJK = "'Noto Sans CJK SC', sans-serif"
WQY = "'WenQuanYi Micro Hei', sans-serif"
LIB = "'Liberation Sans', 'Noto Sans CJK SC', sans-serif"
DJV = "'DejaVu Sans', 'Noto Sans CJK SC', sans-serif"


def TitleBar(p, title):
    c = p.c
    p.css += (
        f".tb{{height:36px;display:flex;align-items:center;justify-content:center;position:relative;"
        f"background:{c['bar']};border-bottom:1px solid {c['border']};font-size:14px}}"
        ".tb .dots{position:absolute;left:12px;top:12px;display:flex;gap:8px}"
        ".tb .dots i{width:12px;height:12px;border-radius:6px;display:block}"
    )
    dots = '<div class="dots"><i style="background:#ec6a5e"></i><i style="background:#f4bf4f"></i><i style="background:#61c554"></i></div>'
    return f'<div class="tb">{dots}{p.One(title)}</div>'


def Toggle(p, on):
    c = p.c
    back = c["accent"] if on else c["border"]
    knob = "right:2px" if on else "left:2px"
    return (f'<span style="display:inline-block;position:relative;width:40px;height:22px;border-radius:11px;'
            f'background:{back}"><span style="position:absolute;top:2px;{knob};width:18px;height:18px;'
            f'border-radius:9px;background:#fff"></span></span>')


def Settings(name, lang, theme, font, size, d):
    """A settings window: side menu, a panel of label and value rows, a footer with buttons."""
    w, h = d["size"]
    p = Page(name, "screenshots", lang, theme, w, h, "settings", font)
    c = p.c
    fs = size
    p.css += (
        f".win{{position:absolute;left:0;top:0;width:{w}px;height:{h}px;background:{c['bg']};display:flex;flex-direction:column}}"
        f".main{{flex:1;display:flex;min-height:0}}"
        f".menu{{width:{d['menuWidth']}px;background:{c['side']};border-right:1px solid {c['border']};padding:14px 10px;font-size:{fs}px}}"
        f".menu .it{{padding:7px 12px;border-radius:6px;margin-bottom:2px}}"
        f".menu .sel{{background:{c['select']};font-weight:bold}}"
        f".menu .search{{border:1px solid {c['border']};border-radius:6px;padding:5px 10px;margin-bottom:12px;color:{c['muted']};background:{c['bg']}}}"
        f".panel{{flex:1;padding:18px 32px;font-size:{fs}px}}"
        f".panel h1{{font-size:{fs + 8}px;margin:0 0 14px 0}}"
        f".panel h2{{font-size:{fs}px;margin:18px 0 6px 0;color:{c['muted']};font-weight:bold}}"
        f".row{{display:flex;justify-content:space-between;align-items:flex-start;padding:9px 0;border-bottom:1px solid {c['border']}}}"
        f".row .d{{font-size:{fs - 2}px;color:{c['muted']};margin-top:3px}}"
        f".val{{border:1px solid {c['border']};border-radius:6px;padding:4px 28px 4px 10px;background:{c['panel']};position:relative}}"
        f".val:after{{content:'';position:absolute;right:10px;top:45%;border:5px solid transparent;border-top-color:{c['muted']}}}"
        f".foot{{display:flex;justify-content:space-between;align-items:center;padding:12px 20px;border-top:1px solid {c['border']};background:{c['panel']};font-size:{fs}px}}"
        f".btn{{display:inline-block;border:1px solid {c['border']};border-radius:6px;padding:6px 18px;margin-left:10px;background:{c['bg']}}}"
        f".btn.pri{{background:{c['accent']};color:{c['onAccent']};border-color:{c['accent']}}}"
        f".sub{{display:flex;gap:40px}} .sub>div{{flex:1}}"
        f".note{{font-size:{fs - 1}px;color:{c['muted']};margin-top:14px}}"
    )
    parts = ['<div class="win">']
    if d.get("title"):
        parts.append(TitleBar(p, d["title"]))
    parts.append('<div class="main"><div class="menu">')
    if d.get("search"):
        parts.append(f'<div class="search">{p.One(d["search"])}</div>')
    for i, item in enumerate(d["menu"]):
        cls = "it sel" if i == d["selected"] else "it"
        parts.append(f'<div class="{cls}">{p.One(item)}</div>')
    parts.append('</div><div class="panel">')
    parts.append(f'<h1>{p.One(d["heading"])}</h1>')

    def Rows(rows):
        out = []
        for r in rows:
            if isinstance(r, str):
                out.append(f"<h2>{p.One(r)}</h2>")
                continue
            label, value, desc = r
            if value is True or value is False:
                left = p.One(label)
                ctrl = Toggle(p, value)
            elif value.startswith("="):
                left, right = p.Row(label, value[1:])
                ctrl = f'<span class="nw" style="color:{c["muted"]}">{right}</span>'
            else:
                left, right = p.Row(label, value)
                ctrl = f'<span class="val">{right}</span>'
            dl = f'<div class="d">{p.One(desc)}</div>' if desc else ""
            out.append(f'<div class="row"><div><div>{left}</div>{dl}</div>{ctrl}</div>')
        return "".join(out)

    parts.append(Rows(d["rows"]))
    if d.get("split"):
        left, right = d["split"]
        parts.append(f'<div class="sub"><div>{Rows(left)}</div><div>{Rows(right)}</div></div>')
    if d.get("note"):
        parts.append(f'<div class="note">{p.One(d["note"])}</div>')
    parts.append("</div></div>")
    first, buttons = d["footer"]
    btns = p.Row(*([first] if first else []) + buttons)
    lead = f"<span>{btns[0]}</span>" if first else "<span></span>"
    rest = btns[1:] if first else btns
    tail = "".join(
        f'<span class="btn{" pri" if i == len(rest) - 1 else ""}">{b}</span>' for i, b in enumerate(rest))
    parts.append(f'<div class="foot">{lead}<span>{tail}</span></div></div>')
    p.body = "".join(parts)
    return p


def SettingsPages():
    pages = []
    pages.append(Settings("settings-en-light", "en", "light", LIB, 15, {
        "size": (1100, 900), "menuWidth": 220, "title": "Preferences", "search": "Search settings",
        "menu": ["General", "Appearance", "Notifications", "Privacy", "Accounts", "Keyboard shortcuts",
                 "Storage", "Updates", "About"],
        "selected": 1, "heading": "Appearance",
        "rows": [
            "Theme",
            ("Color scheme", "Follow system", "Match the light or dark mode of your computer."),
            ("Accent color", "Harbor blue", None),
            ("Text size", "15 px", "Applies to menus, lists and the reading pane."),
            ("Compact lists", True, "Fit more rows on small screens."),
            "Windows",
            ("Open new windows in", "Last used folder", None),
            ("Reopen tabs at start", False, None),
            ("Animation speed", "=Normal", None),
        ],
        "footer": ("Reset to defaults", ["Cancel", "Apply"]),
    }))
    pages.append(Settings("settings-zh-dark", "zh", "dark", CJK, 15, {
        "size": (1000, 800), "menuWidth": 200, "title": "系统设置", "search": "搜索设置项",
        "menu": ["通用", "外观", "通知", "隐私与安全", "账户", "快捷键", "存储空间", "软件更新", "关于本机"],
        "selected": 2, "heading": "通知",
        "rows": [
            ("允许通知", True, "关闭后，所有应用都不会再弹出提醒。"),
            ("提示音", "清脆铃声", None),
            ("勿扰时段", "=22:00 至 07:30", "这段时间内来电和消息均静音。"),
            ("锁屏时显示内容", "仅显示发送者", None),
            "按应用设置",
            ("日历", "横幅", None),
            ("邮件", "仅角标", None),
            ("备忘录", "关闭", None),
        ],
        "footer": ("恢复默认", ["取消", "确定"]),
    }))
    pages.append(Settings("settings-mixed-light", "mixed", "light", CJK, 14, {
        "size": (1180, 760), "menuWidth": 210, "title": "偏好设置 Preferences",
        "menu": ["常规 General", "网络代理 Proxy", "同步 Sync", "快捷键 Shortcuts", "插件 Plugins", "关于 About"],
        "selected": 3, "heading": "快捷键 Shortcuts",
        "rows": [("快捷键方案 Keymap", "默认 Default", "切换方案后，自定义的按键会保留。")],
        "split": (
            ["编辑 Edit", ("复制 Copy", "=Ctrl+C", None), ("粘贴 Paste", "=Ctrl+V", None),
             ("撤销 Undo", "=Ctrl+Z", None), ("查找 Find", "=Ctrl+F", None)],
            ["视图 View", ("放大 Zoom in", "=Ctrl+=", None), ("缩小 Zoom out", "=Ctrl+-", None),
             ("全屏 Full screen", "=F11", None), ("侧边栏 Sidebar", "=Ctrl+B", None)],
        ),
        "note": "提示：录制新快捷键时，按 Esc 可以取消。",
        "footer": (None, ["取消 Cancel", "保存 Save"]),
    }))
    pages.append(Settings("settings-en-dark", "en", "dark", DJV, 14, {
        "size": (1040, 760), "menuWidth": 230, "title": None, "search": "Find a setting",
        "menu": ["Profile", "Accounts", "Sync and backup", "Calendars", "Reminders", "Languages", "Advanced"],
        "selected": 1, "heading": "Accounts",
        "rows": [
            ("Full name", "=Tomas Varga", None),
            ("Email address", "=tomas.varga@example.org", "Used for sign-in and receipts."),
            ("Two-step sign-in", True, "A code is sent to your phone at each new sign-in."),
            "Connected services",
            ("Shared calendar", "=Connected", None),
            ("Photo backup", "=Paused since May 3", None),
            ("Team chat", "=Not connected", None),
        ],
        "footer": ("Sign out of all devices", ["Close"]),
    }))
    pages.append(Settings("settings-mixed-dark", "mixed", "dark", CJK, 14, {
        "size": (1160, 740), "menuWidth": 210, "title": "设置 Settings", "search": "搜索 Search",
        "menu": ["账户 Account", "存储 Storage", "备份 Backup", "语言 Language", "辅助功能 Accessibility"],
        "selected": 1, "heading": "存储 Storage",
        "rows": [("已用空间 Used", "=38.6 GB / 128 GB", "每天凌晨自动清理缓存 Cache is cleared every night.")],
        "split": (
            ["应用 Apps", ("照片 Photos", "=12.4 GB", None), ("音乐 Music", "=6.1 GB", None),
             ("地图 Maps", "=2.3 GB", None), ("邮件 Mail", "=860 MB", None)],
            ["文件 Files", ("下载 Downloads", "=9.7 GB", None), ("文档 Documents", "=4.5 GB", None),
             ("视频 Videos", "=2.2 GB", None), ("其他 Other", "=540 MB", None)],
        ),
        "note": "清理前请先备份重要文件。Back up important files before cleaning up.",
        "footer": ("管理存储 Manage storage", ["清理 Clean up"]),
    }))
    return pages


def Dialog(name, lang, theme, font, size, d):
    w, h = d["size"]
    p = Page(name, "screenshots", lang, theme, w, h, "dialog", font)
    c = p.c
    fs = size
    dw = d["width"]
    p.css += (
        f".dim{{position:absolute;inset:0;background:{c['desk']}}}"
        f".app{{position:absolute;inset:24px;background:{c['bg']};opacity:0.45;border-radius:8px}}"
        f".app i{{display:block;height:10px;margin:18px 30px;background:{c['border']};border-radius:5px}}"
        f".dlg{{position:absolute;left:{(w - dw) // 2}px;top:{d['top']}px;width:{dw}px;background:{c['bg']};border-radius:10px;"
        f"box-shadow:0 10px 40px rgba(0,0,0,.35);border:1px solid {c['border']};font-size:{fs}px}}"
        f".dlg .hd{{padding:16px 22px 6px 22px;font-size:{fs + 3}px;font-weight:bold}}"
        f".dlg .bd{{padding:6px 22px 10px 22px}}"
        f".dlg .p{{line-height:1.55}}"
        f".fr{{display:flex;align-items:center;margin:10px 0}} .fr .lab{{width:{d.get('labelWidth', 120)}px;color:{c['muted']}}}"
        f".fr .in{{flex:1;border:1px solid {c['border']};border-radius:6px;padding:5px 10px;background:{c['panel']}}}"
        f".chk{{display:inline-block;width:15px;height:15px;border:1px solid {c['muted']};border-radius:3px;margin-right:8px;vertical-align:-2px}}"
        f".chk.on{{background:{c['accent']};border-color:{c['accent']}}}"
        f".ft{{display:flex;justify-content:space-between;padding:12px 22px 16px 22px}}"
        f".btn{{display:inline-block;border:1px solid {c['border']};border-radius:6px;padding:6px 18px;margin-left:10px;background:{c['panel']}}}"
        f".btn.pri{{background:{c['accent']};color:{c['onAccent']};border-color:{c['accent']}}}"
        f".prev{{width:{d.get('preview', 0)}px;background:{c['panel']};padding:24px 20px;border-right:1px solid {c['border']}}}"
        f".prev .sheet{{background:#fff;height:100%;padding:18px 14px}} .prev .sheet i{{display:block;height:5px;background:#c9ccd1;margin:9px 0}}"
        f".item{{padding:3px 0 3px 14px}}"
    )
    bars = "".join("<i></i>" for _ in range(14))
    parts = [f'<div class="dim"><div class="app">{bars}</div></div><div class="dlg">']
    parts.append(f'<div class="hd">{p.One(d["title"])}</div>')
    body = []
    body.append(f'<div class="col">{p.Para(d["message"], dw - 44 - d.get("preview", 0), fs, font)}</div>' if d.get("message") else "")
    for item in d.get("items", []):
        body.append(f'<div class="item">{p.One(item)}</div>')
    for label, value in d.get("fields", []):
        if label is None:
            on = value.startswith("+")
            body.append(f'<div class="fr"><span class="chk{" on" if on else ""}"></span>{p.One(value.lstrip("+-"))}</div>')
        else:
            lab, val = p.Row(label, value)
            body.append(f'<div class="fr"><span class="lab">{lab}</span><span class="in">{val}</span></div>')
    for check in d.get("checks", []):
        on = check.startswith("+")
        body.append(f'<div class="fr"><span class="chk{" on" if on else ""}"></span>{p.One(check.lstrip("+-"))}</div>')
    if d.get("preview"):
        sheet = "".join(f'<i style="width:{60 + (i * 37) % 40}%"></i>' for i in range(16))
        parts.append(f'<div style="display:flex"><div class="prev"><div class="sheet">{sheet}</div></div>'
                     f'<div class="bd" style="flex:1">{"".join(body)}</div></div>')
    else:
        parts.append(f'<div class="bd">{"".join(body)}</div>')
    first, buttons = d["buttons"]
    btns = p.Row(*([first] if first else []) + buttons)
    lead = f'<span class="btn">{btns[0]}</span>' if first else "<span></span>"
    rest = btns[1:] if first else btns
    tail = "".join(f'<span class="btn{" pri" if i == len(rest) - 1 else ""}">{b}</span>' for i, b in enumerate(rest))
    parts.append(f'<div class="ft">{lead}<span>{tail}</span></div></div>')
    p.body = "".join(parts)
    return p


def DialogPages():
    pages = []
    pages.append(Dialog("dialog-zh-light", "zh", "light", CJK, 15, {
        "size": (900, 600), "width": 460, "top": 150, "title": "要保存对“季度预算草案”的更改吗？",
        "message": "这份文档有尚未保存的修改。如果现在关闭窗口，最近十五分钟内所做的编辑都将丢失，无法从回收站找回。",
        "checks": ["-以后不再询问"],
        "buttons": ("不保存", ["取消", "保存"]),
    }))
    pages.append(Dialog("dialog-en-dark", "en", "dark", LIB, 15, {
        "size": (1000, 700), "width": 540, "top": 110, "title": "Export report", "labelWidth": 130,
        "fields": [("Format", "PDF document"), ("Pages", "All pages"), ("Paper size", "A4 (210 x 297 mm)"),
                   ("Save to", "Documents/Reports/2026"), (None, "+Include comments"), (None, "-Open the file when done")],
        "message": "Large reports with many pictures can take a minute to export. You can keep working while it runs.",
        "buttons": (None, ["Cancel", "Export"]),
    }))
    pages.append(Dialog("dialog-mixed-light", "mixed", "light", CJK, 14, {
        "size": (1100, 720), "width": 760, "top": 90, "title": "打印 Print", "preview": 260, "labelWidth": 150,
        "fields": [("打印机 Printer", "Office LaserJet 4"), ("份数 Copies", "2"), ("页面 Pages", "1-6, 9"),
                   ("纸张 Paper", "A4 普通纸"), ("方向 Layout", "纵向 Portrait"), ("颜色 Color", "黑白 Black and white"),
                   (None, "+双面打印 Print on both sides"), (None, "-逐份打印 Collate")],
        "buttons": ("打印机属性 Properties", ["取消", "打印"]),
    }))
    pages.append(Dialog("dialog-en-light", "en", "light", DJV, 14, {
        "size": (880, 620), "width": 500, "top": 110, "title": "Delete 3 items?",
        "message": "These items will be moved to the trash. Shared items stay available to others until the owner empties the trash.",
        "items": ["Budget notes (draft).txt", "Garden plan - spring.png", "Old invoices"],
        "checks": ["-Delete at once without using the trash"],
        "buttons": ("Show details", ["Cancel", "Delete"]),
    }))
    return pages


def Article(name, lang, theme, font, size, d):
    w, h = d["size"]
    p = Page(name, "screenshots", lang, theme, w, h, "article", font)
    c = p.c
    fs = size
    mainW, sideW = d["main"], d["side"]
    p.css += (
        f"body{{background:{c['bg']}}}"
        f".nav{{height:54px;display:flex;align-items:center;padding:0 32px;border-bottom:1px solid {c['border']};background:{c['bar']};font-size:{fs}px}}"
        f".nav .logo{{font-weight:bold;font-size:{fs + 5}px;margin-right:40px;color:{c['accent']}}}"
        f".nav .ln{{margin-right:26px}} .nav .sp{{flex:1}}"
        f".nav .srch{{border:1px solid {c['border']};border-radius:16px;padding:4px 16px;color:{c['muted']};margin-right:20px;width:200px}}"
        f".wrap{{display:flex;gap:{d['gap']}px;padding:20px 32px}}"
        f".mainc{{width:{mainW}px;font-size:{fs}px}}"
        f".mainc .crumb{{color:{c['muted']};font-size:{fs - 2}px;margin-bottom:10px}}"
        f".mainc h1{{font-size:{fs + 14}px;margin:0 0 10px 0;line-height:1.25}}"
        f".mainc .by{{color:{c['muted']};font-size:{fs - 1}px;margin-bottom:14px}}"
        f".mainc .p{{line-height:1.6}} .mainc .gap{{height:12px}}"
        f".mainc h2{{font-size:{fs + 4}px;margin:16px 0 8px 0}}"
        f".mainc pre{{font-family:'DejaVu Sans Mono',monospace;background:{c['code']};padding:10px 14px;margin:10px 0;font-size:{fs - 1}px;border-radius:6px}}"
        f".sidec{{width:{sideW}px;font-size:{fs - 1}px}}"
        f".sidec h3{{font-size:{fs}px;margin:4px 0 10px 0;padding-bottom:6px;border-bottom:2px solid {c['accent']}}}"
        f".sidec .li{{line-height:1.5}} .sidec .blk{{margin-bottom:22px}} .sidec .gap{{height:9px}}"
        f".sidec .cur{{color:{c['accent']};font-weight:bold}}"
        f".sidec .btn{{display:inline-block;background:{c['accent']};color:{c['onAccent']};padding:5px 16px;border-radius:5px;margin-top:8px}}"
        f".tag{{display:inline-block;border:1px solid {c['border']};border-radius:12px;padding:1px 10px;margin:0 6px 6px 0}}"
        f".foot{{position:absolute;left:0;right:0;bottom:0;padding:12px 32px;border-top:1px solid {c['border']};color:{c['muted']};font-size:{fs - 2}px;background:{c['bar']}}}"
        f".toc{{width:{d.get('toc', 0)}px;font-size:{fs - 2}px}}"
        f".toc .li{{line-height:1.9;color:{c['muted']}}}"
    )
    nav = d["nav"]
    frags = p.Row(*nav["items"])
    logo, items, rest = frags[0], frags[1:len(frags) - nav["right"]], frags[len(frags) - nav["right"]:]
    navHtml = f'<span class="logo">{logo}</span>' + "".join(f'<span class="ln">{x}</span>' for x in items)
    navHtml += '<span class="sp"></span>'
    if nav.get("search"):
        navHtml += f'<span class="srch">{rest[0]}</span>' + "".join(f'<span class="ln">{x}</span>' for x in rest[1:])
    else:
        navHtml += "".join(f'<span class="ln">{x}</span>' for x in rest)
    parts = [f'<div class="nav">{navHtml}</div><div class="wrap">']

    def Side(blocks):
        out = ['<div class="sidec col">']
        for b in blocks:
            out.append(f'<div class="blk"><h3>{p.One(b["title"])}</h3>')
            for item in b.get("items", []):
                cls = "cur" if item.startswith("*") else ""
                out.append(f'<div class="col {cls}">{p.Para(item.lstrip("*"), sideW, fs - 1, font, "li")}</div><div class="gap"></div>')
            if b.get("text"):
                out.append(p.Para(b["text"], sideW, fs - 1, font, "li"))
            if b.get("tags"):
                tags = p.Row(*b["tags"])
                out.append("<div>" + "".join(f'<span class="tag">{t}</span>' for t in tags) + "</div>")
            if b.get("button"):
                out.append(f'<span class="btn">{p.One(b["button"])}</span>')
            out.append("</div>")
        out.append("</div>")
        return "".join(out)

    def Main():
        out = ['<div class="mainc col">']
        if d.get("crumb"):
            out.append(f'<div class="crumb">{p.One(d["crumb"])}</div>')
        out.append("<h1>" + p.Para(d["title"], mainW, fs + 14, font, "h") + "</h1>")
        out.append(f'<div class="by">{p.One(d["byline"])}</div>')
        for block in d["body"]:
            if block.startswith("## "):
                out.append(f"<h2>{p.One(block[3:])}</h2>")
            elif block.startswith("``` "):
                out.append("<pre>" + "".join(f"<div>{p.One(x)}</div>" for x in block[4:].split("\n")) + "</pre>")
            else:
                out.append(p.Para(block, mainW, fs, font) + '<div class="gap"></div>')
        out.append("</div>")
        return "".join(out)

    if d.get("sideLeft"):
        parts.append(Side(d["sideBlocks"]) + Main())
    else:
        parts.append(Main() + Side(d["sideBlocks"]))
    if d.get("toc"):
        parts.append(f'<div class="toc col"><div style="font-weight:bold;margin-bottom:6px">{p.One(d["tocTitle"])}</div>'
                     + "".join(f'<div class="li">{p.One(x)}</div>' for x in d["tocItems"]) + "</div>")
    parts.append("</div>")
    parts.append(f'<div class="foot">{p.One(d["footer"])}</div>')
    p.body = "".join(parts)
    return p


def ArticlePages():
    pages = []
    pages.append(Article("article-en-light", "en", "light", LIB, 16, {
        "size": (1280, 1000), "main": 760, "side": 340, "gap": 80,
        "nav": {"items": ["Riverside Weekly", "News", "Events", "Food", "Neighbourhood", "Search articles", "Sign in"], "right": 2, "search": True},
        "crumb": "News / Community",
        "title": "How a small library kept its doors open all winter",
        "byline": "By Mara Ellison - January 14 - 6 min read",
        "body": [
            "When the heating failed in the old reading room last November, the staff of the Elm Street branch had two weeks to decide whether to close until spring. They chose to stay, and moved the whole lending desk into the warmer basement hall.",
            "Volunteers carried more than four thousand books down the narrow stairs over three weekends. Children from the nearby school labelled the new shelves with coloured cards, and a local carpenter built a ramp so that prams and wheelchairs could still reach the desk.",
            "## A room that filled up",
            "Visits went up rather than down. The basement was the only warm public room on the street, and people came to read the papers, charge their phones and play chess in the long afternoons.",
            "The branch will return upstairs in March, once the new boiler is tested. The chess tables, the staff say, are staying where they are.",
        ],
        "sideBlocks": [
            {"title": "Most read this week", "items": ["Bus route 12 returns to the market square on Monday",
                                                       "Three bakeries that open before six",
                                                       "What the new parking rules mean for residents",
                                                       "Photos: the lantern walk along the canal"]},
            {"title": "Newsletter", "text": "One short email every Friday with the week's local stories and events.", "button": "Subscribe"},
        ],
        "footer": "Riverside Weekly is written and edited by people who live here. Contact the newsroom: desk@example.org",
    }))
    pages.append(Article("article-zh-light", "zh", "light", CJK, 16, {
        "size": (1200, 960), "main": 700, "side": 320, "gap": 70,
        "nav": {"items": ["城南生活", "首页", "新闻", "美食", "出行", "社区", "登录"], "right": 1},
        "crumb": "首页 > 社区 > 民生",
        "title": "老菜市场改造完成，摊位重新开张",
        "byline": "本报记者 林晓雯 2026年3月2日 阅读约5分钟",
        "body": [
            "经过五个月的施工，位于和平路口的老菜市场终于在本周一重新开门。新市场保留了原来的砖墙和木梁，屋顶换成了透光的采光板，白天几乎不用开灯。",
            "改造前，这里的通道又窄又滑，雨天常有老人摔倒。现在地面铺上了防滑砖，每排摊位之间留出了可以推婴儿车的宽度，入口处还新设了休息长椅。",
            "## 老摊主回来了",
            "原有的六十多家摊主中，有五十二家选择回来继续经营。卖豆腐的王阿姨说，熟客一早就在门口排队，像是过节一样热闹。",
            "市场管理处表示，二楼将在五月开放，设置社区食堂和儿童阅读角，具体开放时间会提前在公告栏通知。",
        ],
        "sideBlocks": [
            {"title": "热门文章", "items": ["地铁六号线南延段下月试运行", "周末去哪儿：江边新开的骑行道",
                                       "社区医院增设夜间门诊", "三月天气多变，出门记得带伞"]},
            {"title": "标签", "tags": ["菜市场", "城市更新", "民生", "社区"]},
        ],
        "footer": "城南生活 版权所有 联系我们：news@example.org",
    }))
    pages.append(Article("article-mixed-dark", "mixed", "dark", CJK, 15, {
        "size": (1400, 900), "main": 700, "side": 210, "gap": 50, "sideLeft": True, "toc": 190,
        "tocTitle": "本页内容", "tocItems": ["文件位置", "基本结构", "端口与证书", "常见问题"],
        "nav": {"items": ["Quillkit 文档", "指南 Guide", "API 参考", "更新日志 Changelog", "搜索文档", "English"], "right": 2, "search": True},
        "crumb": "指南 > 配置 > config.toml",
        "title": "配置文件 config.toml",
        "byline": "最后更新于 2026-02-18",
        "body": [
            "Quillkit 启动时会读取 config.toml。如果文件不存在，程序会使用内置的默认值，并在日志中写一条提示。",
            "## 基本结构",
            "文件由若干个表 table 组成，每个表对应一个模块。下面是一个最小的例子：",
            "``` [server]\nport = 8443\nworkers = 4\n[log]\nlevel = \"info\"",
            "修改端口后需要重启服务。workers 的数量建议不超过 CPU 核心数。",
        ],
        "sideBlocks": [
            {"title": "开始使用", "items": ["安装 Install", "快速上手 Quick start", "*配置 Configuration", "命令行 CLI"]},
            {"title": "进阶", "items": ["插件 Plugins", "性能调优", "部署到服务器"]},
        ],
        "footer": "文档采用 CC BY 4.0 许可 本页有错误？欢迎反馈",
    }))
    pages.append(Article("article-zh-dark", "zh", "dark", WQY, 16, {
        "size": (1240, 940), "main": 720, "side": 320, "gap": 80,
        "nav": {"items": ["慢读笔记", "随笔", "读书", "旅行", "归档", "关于"], "right": 1},
        "title": "在山里住了一周，学会了做三样东西",
        "byline": "作者：周远 2026年4月10日",
        "body": [
            "去年秋天，我在一个只有二十几户人家的山村住了一周。村里没有饭馆，每天的饭菜都是房东奶奶从菜地里摘回来现做的。",
            "第一样学会的是腌萝卜。萝卜要切得厚薄均匀，撒盐后压上石头，放在阴凉处一夜，第二天早上就可以吃了。",
            "第二样是劈柴。看起来简单，其实要顺着木头的纹路下斧，不然一上午也劈不开一根。",
            "## 最难的一样",
            "第三样是早起。山里天亮得早，公鸡五点就开始叫。住到第五天，我终于能在日出前走到山顶，看云从脚下慢慢散开。",
        ],
        "sideBlocks": [
            {"title": "关于作者", "text": "周远，住在海边城市的程序员，周末喜欢徒步和做饭，偶尔写点东西。"},
            {"title": "最近文章", "items": ["冬天的第一锅萝卜汤", "旧书店里找到的一张地图", "骑车上班的第一百天"]},
        ],
        "footer": "慢读笔记 2019-2026 保留所有权利",
    }))
    return pages


def Pages():
    return SettingsPages() + DialogPages() + ArticlePages()
