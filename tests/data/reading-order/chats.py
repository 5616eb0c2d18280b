"""Chat windows: a desktop window with the chat list beside the open chat, and phone screens, with
bubbles alternating left and right."""

from page import Page, Wrap

CJK = "'Noto Sans CJK SC', sans-serif"
WQY = "'WenQuanYi Micro Hei', sans-serif"
LIB = "'Liberation Sans', 'Noto Sans CJK SC', sans-serif"
DJV = "'DejaVu Sans', 'Noto Sans CJK SC', sans-serif"


def BubbleCss(p, fs):
    c = p.c
    return (
        f".msgs{{padding:14px 22px;font-size:{fs}px}}"
        f".sep{{text-align:center;color:{c['muted']};font-size:{fs - 2}px;margin:10px 0}}"
        f".m{{display:flex;margin:8px 0;align-items:flex-start}} .m.out{{justify-content:flex-end}}"
        f".av{{width:34px;height:34px;border-radius:17px;flex:none;margin:0 10px}}"
        f".who{{font-size:{fs - 3}px;color:{c['muted']};margin:0 0 3px 2px}}"
        f".bub{{padding:8px 12px;border-radius:10px;line-height:1.45}}"
        f".in .bub{{background:{c['bubbleIn']}}} .out .bub{{background:{c['bubbleOut']};color:{c['onOut']}}}"
    )


COLORS = ["#e0a458", "#5fa8d3", "#9b7ede", "#6cc19f", "#e07a7a", "#c4b04f"]


def Messages(p, items, bubbleWidth, fs, font):
    out = ['<div class="msgs">']
    for i, it in enumerate(items):
        kind = it[0]
        if kind == "sep":
            out.append(f'<div class="sep">{p.One(it[1])}</div>')
            continue
        who = it[1] if kind == "in" else None
        text = it[2] if kind == "in" else it[1]
        av = f'<span class="av" style="background:{COLORS[(len(who or "") + i) % len(COLORS)]}"></span>'
        whoHtml = f'<div class="who">{p.One(who)}</div>' if who else ""
        lines = "".join(f"<div>{p.One(x)}</div>" for x in Wrap(text, bubbleWidth, fs, font))
        bubble = f'<div>{whoHtml}<div class="bub col" style="max-width:{bubbleWidth + 26}px">{lines}</div></div>'
        out.append(f'<div class="m {kind}">{av}{bubble}</div>' if kind == "in" else f'<div class="m out">{bubble}{av}</div>')
    out.append("</div>")
    return "".join(out)


def Desktop(name, lang, theme, font, fs, d):
    w, h = d["size"]
    p = Page(name, "chats", lang, theme, w, h, "chat-desktop", font)
    c = p.c
    listW = d["listWidth"]
    p.css += BubbleCss(p, fs) + (
        f".win{{position:absolute;inset:0;display:flex;background:{c['bg']}}}"
        f".rail{{width:58px;background:{c['side']};border-right:1px solid {c['border']}}}"
        f".rail i{{display:block;width:26px;height:26px;margin:18px 16px;border-radius:7px;background:{c['border']}}}"
        f".list{{width:{listW}px;border-right:1px solid {c['border']};background:{c['panel']};font-size:{fs}px}}"
        f".srch{{margin:14px;padding:6px 12px;border-radius:6px;background:{c['bg']};color:{c['muted']};border:1px solid {c['border']}}}"
        f".ent{{display:flex;padding:10px 14px;align-items:flex-start}} .ent.sel{{background:{c['select']}}}"
        f".ent .av{{margin:2px 12px 0 0;width:40px;height:40px;border-radius:6px}}"
        f".ent .tx{{flex:1}} .ent .top{{display:flex;justify-content:space-between}}"
        f".ent .tm{{color:{c['muted']};font-size:{fs - 3}px}} .ent .pv{{color:{c['muted']};font-size:{fs - 2}px;margin-top:3px}}"
        f".pane{{flex:1;display:flex;flex-direction:column}}"
        f".hd{{padding:12px 22px;border-bottom:1px solid {c['border']};font-size:{fs + 2}px}}"
        f".hd .st{{font-size:{fs - 3}px;color:{c['muted']};margin-top:2px}}"
        f".body{{flex:1}}"
        f".inp{{border-top:1px solid {c['border']};padding:12px 22px;display:flex;justify-content:space-between;align-items:center;font-size:{fs}px}}"
        f".inp .ph{{color:{c['muted']}}}"
        f".send{{background:{c['accent']};color:{c['onAccent']};padding:6px 20px;border-radius:6px}}"
    )
    parts = ['<div class="win"><div class="rail"><i></i><i></i><i></i><i></i></div><div class="list">']
    parts.append(f'<div class="srch">{p.One(d["search"])}</div>')
    for i, (who, time, preview) in enumerate(d["list"]):
        nm, tm = p.Row(who, time)
        pv = p.One(preview)
        sel = " sel" if i == d["selected"] else ""
        parts.append(f'<div class="ent{sel}"><span class="av" style="background:{COLORS[i % len(COLORS)]}"></span>'
                     f'<div class="tx"><div class="top"><span>{nm}</span><span class="tm">{tm}</span></div>'
                     f'<div class="pv">{pv}</div></div></div>')
    parts.append('</div><div class="pane">')
    # The title is asked for before its status line: the truth follows the order of the calls.
    title = p.One(d["title"])
    status = f'<div class="st">{p.One(d["status"])}</div>' if d.get("status") else ""
    parts.append(f'<div class="hd"><div>{title}</div>{status}</div>')
    parts.append(f'<div class="body">{Messages(p, d["messages"], d["bubble"], fs, font)}</div>')
    ph, send = p.Row(d["placeholder"], d["send"])
    parts.append(f'<div class="inp"><span class="ph">{ph}</span><span class="send">{send}</span></div></div></div>')
    p.body = "".join(parts)
    return p


def Phone(name, lang, theme, font, fs, d):
    w, h = d.get("size", (420, 900))
    p = Page(name, "chats", lang, theme, w, h, "chat-phone", font)
    c = p.c
    p.css += BubbleCss(p, fs) + (
        f".scr{{position:absolute;inset:0;background:{c['bg']};display:flex;flex-direction:column}}"
        f".sb{{height:40px;display:flex;justify-content:space-between;align-items:center;padding:0 26px;font-size:15px;font-weight:bold}}"
        f".sb .ic{{display:flex;gap:5px}} .sb .ic i{{display:block;width:16px;height:10px;border-radius:2px;background:{c['text']}}}"
        f".hd{{height:54px;display:flex;align-items:center;justify-content:center;position:relative;border-bottom:1px solid {c['border']};font-size:{fs + 1}px;font-weight:bold;background:{c['bar']}}}"
        f".hd .back{{position:absolute;left:18px;top:19px;width:13px;height:13px;border-left:3px solid {c['accent']};border-bottom:3px solid {c['accent']};transform:rotate(45deg)}}"
        f".msgs{{padding:8px 8px}} .av{{width:32px;height:32px;margin:0 8px}}"
        f".body{{flex:1}}"
        f".inp{{display:flex;align-items:center;padding:10px 12px 24px 12px;border-top:1px solid {c['border']};background:{c['bar']}}}"
        f".inp .box{{flex:1;border-radius:18px;padding:7px 14px;background:{c['panel']};color:{c['muted']};font-size:{fs}px;margin:0 10px}}"
        f".inp i{{display:block;width:26px;height:26px;border-radius:13px;border:2px solid {c['muted']}}}"
    )
    parts = ['<div class="scr">']
    parts.append(f'<div class="sb"><span>{p.One(d["clock"])}</span><span class="ic"><i></i><i></i><i></i></span></div>')
    parts.append(f'<div class="hd"><span class="back"></span>{p.One(d["title"])}</div>')
    parts.append(f'<div class="body">{Messages(p, d["messages"], d["bubble"], fs, font)}</div>')
    parts.append(f'<div class="inp"><i></i><span class="box">{p.One(d["placeholder"])}</span><i></i></div></div>')
    p.body = "".join(parts)
    return p


def Pages():
    pages = []
    pages.append(Desktop("chat-desktop-zh-light", "zh", "light", CJK, 15, {
        "size": (1200, 820), "listWidth": 290, "bubble": 380, "search": "搜索", "selected": 0,
        "list": [("周末登山小组", "10:42", "小陈：那我带两个保温壶"), ("妈妈", "09:15", "晚上回来吃饭吗？"),
                 ("物业服务中心", "昨天", "本周六上午停水两小时"), ("李老师", "昨天", "作业已经收到了，谢谢"),
                 ("快递驿站", "星期二", "您的包裹已放入三号柜"), ("读书会", "星期一", "下期书目投票开始啦")],
        "title": "周末登山小组", "status": "5 位成员",
        "messages": [
            ("sep", "昨天 20:14"),
            ("in", "小陈", "周六的天气预报说是晴天，我们还是早上七点在地铁站集合吗？"),
            ("out", "对，七点整，别迟到。"),
            ("in", "阿杰", "我可能要晚十分钟，车限号，得先把孩子送到外婆家。"),
            ("out", "没问题，我们在便利店门口等你。"),
            ("sep", "10:40"),
            ("in", "小陈", "那我带两个保温壶"),
            ("out", "好"),
            ("in", "林姐", "我准备了创可贴和护膝，谁需要登山杖可以跟我说，家里还有两根。"),
        ],
        "placeholder": "输入消息", "send": "发送(S)",
    }))
    pages.append(Desktop("chat-desktop-en-dark", "en", "dark", LIB, 15, {
        "size": (1240, 800), "listWidth": 300, "bubble": 420, "search": "Search or start a chat", "selected": 1,
        "list": [("Design review", "11:02", "Nadia: the new icons look great"), ("Priya Raman", "10:37", "See you at the station"),
                 ("Dad", "Yesterday", "Did the parcel arrive?"), ("Book club", "Yesterday", "Next meeting is on the 14th"),
                 ("Leo Marsh", "Tue", "Thanks for the photos!"), ("Landlord", "Mon", "The plumber comes at nine")],
        "title": "Priya Raman", "status": "Active 5 minutes ago",
        "messages": [
            ("sep", "Today 09:58"),
            ("in", None, "Morning! Are we still taking the early train to the coast on Saturday?"),
            ("out", "Yes, the 7:40 one. I booked two seats by the window."),
            ("in", None, "Perfect. I will bring sandwiches and the small thermos."),
            ("out", "Great"),
            ("out", "Do not forget the umbrella, the forecast changed again last night and now says showers after lunch."),
            ("in", None, "Ha, noted."),
            ("in", None, "See you at the station"),
        ],
        "placeholder": "Write a message", "send": "Send",
    }))
    pages.append(Desktop("chat-desktop-mixed-light", "mixed", "light", CJK, 14, {
        "size": (1180, 780), "listWidth": 280, "bubble": 360, "search": "搜索 Search", "selected": 0,
        "list": [("Project Lantern 项目组", "14:20", "Emma：demo 改到周四"), ("王磊 Wang Lei", "13:05", "PR 已经合并了"),
                 ("HR 人事部", "昨天", "Annual leave 申请已通过"), ("Coffee 咖啡小组", "周一", "今天谁去买？")],
        "title": "Project Lantern 项目组", "status": "8 members 8 位成员",
        "messages": [
            ("sep", "14:02"),
            ("in", "Emma", "客户那边说 demo 要改到周四下午，因为他们的 CTO 周三出差。"),
            ("in", "王磊", "OK，那我们周三晚上再跑一遍完整的测试。"),
            ("out", "我来更新 slides，第 5 页的图表换成最新的数据。"),
            ("in", "Emma", "Thanks!"),
            ("out", "收到 +1"),
            ("sep", "14:20"),
            ("in", "Emma", "Reminder：会议室订在 3 楼 Orchid，两点开始。"),
        ],
        "placeholder": "输入消息 Type a message", "send": "发送 Send",
    }))
    pages.append(Desktop("chat-desktop-zh-dark", "zh", "dark", WQY, 15, {
        "size": (1160, 800), "listWidth": 270, "bubble": 360, "search": "搜索联系人", "selected": 2,
        "list": [("张伟", "15:31", "明天见"), ("羽毛球群", "15:02", "场地订好了"), ("房东刘先生", "12:48", "水电费单子发你了"),
                 ("公司前台", "昨天", "有您的快递"), ("表妹", "星期日", "照片收到啦")],
        "title": "房东刘先生",
        "messages": [
            ("sep", "12:40"),
            ("in", None, "小周你好，这个月的水电费单子我拍照发你了，一共二百一十六元。"),
            ("in", None, "另外楼下的门禁下周要换新的，到时候需要重新录指纹。"),
            ("out", "好的刘叔，我今晚转给您。"),
            ("out", "录指纹是要本人去物业吗？我周末才有空。"),
            ("in", None, "周末也可以，物业周六上午有人值班。"),
            ("out", "行，谢谢"),
        ],
        "placeholder": "按回车发送消息", "send": "发送",
    }))
    pages.append(Desktop("chat-desktop-en-light", "en", "light", DJV, 14, {
        "size": (1180, 760), "listWidth": 280, "bubble": 400, "search": "Search messages", "selected": 0,
        "list": [("Allotment group", "16:05", "Ruth: water butts are full"), ("Ben Carter", "15:40", "I left the key under the pot"),
                 ("Choir", "Mon", "Rehearsal moved to 7:30"), ("Mum", "Sun", "Call me when you land")],
        "title": "Allotment group", "status": "Ruth, Ben, Ana and you",
        "messages": [
            ("sep", "Today 15:48"),
            ("in", "Ruth", "The rain last night filled both water butts, so no need to carry cans this week."),
            ("in", "Ana", "Lovely. The beans on plot 4 need new canes though, two snapped in the wind."),
            ("out", "I have spare canes in the shed, I can bring them on Thursday."),
            ("in", "Ben", "Thanks"),
            ("out", "Also, who took the big spade? It is not on its hook."),
            ("in", "Ruth", "Me, sorry! It is behind the compost bins."),
        ],
        "placeholder": "Message Allotment group", "send": "Send",
    }))
    pages.append(Phone("chat-phone-zh-light", "zh", "light", CJK, 16, {
        "clock": "9:41", "title": "小雨", "bubble": 250,
        "messages": [
            ("sep", "星期六 18:20"),
            ("in", None, "你到哪儿了？电影七点开始"),
            ("out", "还在公交上，前面有点堵，大概还要二十分钟。"),
            ("in", None, "那我先去取票，爆米花要大份还是中份？"),
            ("out", "中份就够了"),
            ("out", "再帮我买一瓶水"),
            ("in", None, "好"),
            ("sep", "18:47"),
            ("out", "到了到了，我在二号门"),
            ("in", None, "看到你了，往左边走，我在售票机旁边。"),
        ],
        "placeholder": "发消息",
    }))
    pages.append(Phone("chat-phone-en-light", "en", "light", DJV, 15, {
        "clock": "7:05", "title": "Sam", "bubble": 240,
        "messages": [
            ("sep", "Today 6:52 AM"),
            ("in", None, "Are you awake? The bakery on Pine Street opens at seven today."),
            ("out", "Barely. Want me to grab bread on the way?"),
            ("in", None, "Yes please, two loaves of rye and something sweet."),
            ("out", "OK"),
            ("in", None, "Thanks"),
            ("out", "They also have apple cake today, should I get a slice for each of us?"),
            ("in", None, "Absolutely"),
        ],
        "placeholder": "Text message",
    }))
    pages.append(Phone("chat-phone-mixed-dark", "mixed", "dark", CJK, 15, {
        "clock": "22:16", "title": "Lina 琳娜", "bubble": 245,
        "messages": [
            ("sep", "昨天 21:30"),
            ("in", None, "Did you finish the 报告 for Monday?"),
            ("out", "还差最后一部分，conclusion 明天写。"),
            ("in", None, "OK 加油"),
            ("sep", "22:10"),
            ("out", "Quick question：表格里的 revenue 是含税还是不含税？"),
            ("in", None, "不含税，tax 单独列在最后一行。"),
            ("out", "Got it, 谢谢！"),
        ],
        "placeholder": "消息 Message",
    }))
    pages.append(Phone("chat-phone-zh-dark", "zh", "dark", WQY, 16, {
        "clock": "23:02", "title": "家人群（4）", "bubble": 240,
        "messages": [
            ("sep", "22:31"),
            ("in", "爸爸", "明天降温，出门多穿一件外套。"),
            ("in", "妈妈", "周日中午回家吃饭，我包了饺子，有韭菜鸡蛋和白菜猪肉两种馅。"),
            ("out", "好的，我十一点前到"),
            ("in", "姐姐", "我带小宝一起回去"),
            ("out", "太好了，好久没见他了"),
            ("in", "妈妈", "早点睡"),
        ],
        "placeholder": "说点什么吧",
    }))
    return pages
