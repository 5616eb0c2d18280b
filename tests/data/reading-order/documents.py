"""Documents: two-column papers and newsletters with blocks spanning the columns, a three-column
news page, and a reader showing two pages side by side."""

from page import Page, Wrap

SERIF = "'Liberation Serif', 'Noto Serif CJK SC', serif"
CSERIF = "'Noto Serif CJK SC', serif"
CJK = "'Noto Sans CJK SC', sans-serif"
LIB = "'Liberation Sans', 'Noto Sans CJK SC', sans-serif"


def DrawnRows(blocks, width, fs, font, indent):
    """Cuts the blocks of a column flow into drawn rows: (kind, text, first line of a paragraph)."""
    rows = []
    for b in blocks:
        if b.startswith("## "):
            rows.append(("h", b[3:], False, True))
            continue
        first = Wrap(b, width - indent * fs, fs, font)[0] if indent else None
        if indent:
            rest = b[len(first):].lstrip(" ")
            lines = [first] + (Wrap(rest, width, fs, font) if rest else [])
        else:
            lines = Wrap(b, width, fs, font)
        for i, line in enumerate(lines):
            rows.append(("p", line, i == 0, i == len(lines) - 1))
    return rows


def Columns(p, blocks, n, width, gap, fs, font, indent, lineHeight):
    """Fills n columns one after the other with the blocks, cutting where each column holds its share."""
    rows = DrawnRows(blocks, width, fs, font, indent)
    heights = [fs * lineHeight * (1.9 if row[0] == "h" else 1.0) for row in rows]
    total = sum(heights)
    cols, cur, acc = [[] for _ in range(n)], 0, 0.0
    for row, hgt in zip(rows, heights):
        if cur < n - 1 and acc + hgt / 2 > total * (cur + 1) / n and cols[cur]:
            cur += 1
        cols[cur].append(row)
        acc += hgt
    out = [f'<div class="cols" style="display:flex;gap:{gap}px">']
    for col in cols:
        out.append(f'<div class="col" style="width:{width}px">')
        for j, (kind, text, first, last) in enumerate(col):
            if kind == "h":
                out.append(f'<div class="h2">{p.One(text)}</div>')
            else:
                style = f"padding-left:{indent}em;" if first and indent else ""
                # Space between paragraphs, unless the text above is a heading or the column's top.
                if first and j > 0 and col[j - 1][0] == "p":
                    style += f"margin-top:{fs * 0.6:.0f}px"
                ind = f' style="{style}"' if style else ""
                cls = "p" if last else "p pj"
                out.append(f'<div class="{cls}"{ind}>{p.One(text)}</div>')
        out.append("</div>")
    out.append("</div>")
    return "".join(out)


def Document(name, lang, theme, font, fs, d):
    w, h = d["size"]
    p = Page(name, "documents", lang, theme, w, h, d.get("kind", "two-column"), font)
    c = p.c
    n = d.get("columns", 2)
    margin = d.get("margin", 70)
    gap = d.get("gap", 36)
    colW = (w - 2 * margin - (n - 1) * gap) // n
    lh = d.get("lineHeight", 1.5)
    ind = d.get("indent", 0)
    p.css += (
        f".pg{{position:absolute;inset:0;background:{c['bg']};padding:{d.get('top', 40)}px {margin}px;font-size:{fs}px}}"
        f".run{{display:flex;justify-content:space-between;color:{c['muted']};font-size:{fs - 3}px;border-bottom:1px solid {c['border']};padding-bottom:6px;margin-bottom:22px}}"
        f".title{{font-size:{d.get('titleSize', fs + 12)}px;font-weight:bold;text-align:{d.get('titleAlign', 'center')};line-height:1.3}}"
        f".auth{{text-align:{d.get('titleAlign', 'center')};color:{c['muted']};margin:10px 0 4px 0}}"
        f".abs{{margin:16px 0 20px 0;font-size:{fs - 1}px;line-height:{lh}}}"
        f".p{{line-height:{lh}}} .pj{{text-align:justify;text-align-last:justify}} .h2{{font-weight:bold;font-size:{fs + 1}px;line-height:{lh};margin:{fs * 0.2}px 0 {fs * 0.2}px 0}}"
        f".fig{{margin:16px 0;text-align:center}} .fig .chart{{display:flex;align-items:flex-end;justify-content:center;gap:18px;height:150px;border-bottom:2px solid {c['muted']};width:60%;margin:0 auto}}"
        f".fig .chart i{{display:block;width:46px;background:{c['accent']}}} .fig .cap{{margin-top:10px;font-size:{fs - 1}px;color:{c['muted']}}}"
        f".foot{{position:absolute;left:{margin}px;right:{margin}px;bottom:26px;display:flex;justify-content:center;color:{c['muted']};font-size:{fs - 2}px}}"
    )
    parts = ['<div class="pg">']
    if d.get("running"):
        a = p.Row(*d["running"])
        parts.append('<div class="run">' + "".join(f"<span>{x}</span>" for x in a) + "</div>")
    width = w - 2 * margin
    parts.append('<div class="title">' + "".join(f"<div>{p.One(x)}</div>" for x in Wrap(d["title"], width * 0.8, d.get("titleSize", fs + 12), font)) + "</div>")
    if d.get("authors"):
        parts.append(f'<div class="auth">{p.One(d["authors"])}</div>')
    if d.get("abstract"):
        lines = Wrap(d["abstract"], width, fs - 1, font)
        parts.append('<div class="abs col">' + "".join(
            f'<div class="{"p" if i == len(lines) - 1 else "p pj"}">{p.One(x)}</div>' for i, x in enumerate(lines)) + "</div>")
    for section in d["sections"]:
        if isinstance(section, dict):
            bars = "".join(f'<i style="height:{v}%"></i>' for v in section["bars"])
            cap = "".join(f"<div>{p.One(x)}</div>" for x in Wrap(section["caption"], width * 0.8, fs - 1, font))
            parts.append(f'<div class="fig"><div class="chart">{bars}</div><div class="cap">{cap}</div></div>')
        else:
            parts.append(Columns(p, section, n, colW, gap, fs, font, ind, lh))
    parts.append("</div>")
    if d.get("footer"):
        parts.append(f'<div class="foot">{p.One(d["footer"])}</div>')
    p.body = "".join(parts)
    return p


def Reader(name, lang, theme, font, fs, d):
    """An e-book reader showing two pages side by side, each with its page number."""
    w, h = d["size"]
    p = Page(name, "documents", lang, theme, w, h, "two-page", font)
    c = p.c
    colW = (w - 2 * 90 - 120) // 2
    p.css += (
        f".rd{{position:absolute;inset:0;background:{c['bg']};font-size:{fs}px}}"
        f".top{{height:44px;display:flex;align-items:center;justify-content:center;color:{c['muted']};font-size:{fs - 3}px;border-bottom:1px solid {c['border']}}}"
        f".pgs{{display:flex;gap:120px;padding:34px 90px}} .pgw{{width:{colW}px;position:relative;height:{h - 44 - 68}px}}"
        f".p{{line-height:1.75}} .pj{{text-align:justify;text-align-last:justify}} .h2{{font-size:{fs + 6}px;font-weight:bold;margin-bottom:18px}}"
        f".no{{position:absolute;bottom:0;left:0;right:0;text-align:center;color:{c['muted']};font-size:{fs - 3}px}}"
    )
    parts = [f'<div class="rd"><div class="top">{p.One(d["book"])}</div><div class="pgs">']
    for page in d["pages"]:
        parts.append(f'<div class="pgw col">')
        for b in page["blocks"]:
            if b.startswith("## "):
                parts.append(f'<div class="h2">{p.One(b[3:])}</div>')
                continue
            first = Wrap(b, colW - 2 * fs, fs, font)[0]
            rest = b[len(first):]
            lines = [first] + (Wrap(rest, colW, fs, font) if rest else [])
            for i, line in enumerate(lines):
                ind = ' style="padding-left:2em"' if i == 0 else ""
                cls = "p" if i == len(lines) - 1 else "p pj"
                parts.append(f'<div class="{cls}"{ind}>{p.One(line)}</div>')
        parts.append(f'<div class="no">{p.One(page["number"])}</div></div>')
    parts.append("</div></div>")
    p.body = "".join(parts)
    return p


def Pages():
    pages = []
    pages.append(Document("doc-paper-en-light", "en", "light", SERIF, 18, {
        "size": (1100, 1000), "running": ["Notes on Urban Ecology, Vol. 7", "Spring 2026"],
        "title": "Night-time lighting and the return of moths to city parks",
        "authors": "Elena Park, Rui Santos and Maja Horvat, Department of Field Studies",
        "abstract": "Abstract. We counted moths at twelve park sites over two summers, before and after the city changed "
                    "its path lamps to warmer, dimmer lights that switch off after midnight. Counts rose at nine sites, "
                    "most strongly where the park borders a river. We describe the method, the results and what they may "
                    "mean for other cities planning similar changes.",
        "sections": [[
            "## 1. Introduction",
            "Moths are easy to overlook, yet they feed many birds and bats and pollinate plants that open at night. "
            "In most cities their numbers have fallen for decades. Artificial light is one of several causes: it draws "
            "moths away from their food plants and leaves them exposed to predators until morning.",
            "In 2024 our city began to replace the lamps along park paths. The new lamps give a warm light, point "
            "downwards and turn off between midnight and five in the morning. This gave us a chance to compare the "
            "same places under two kinds of light.",
            "## 2. Method",
            "At each site we hung a sheet beside a small light trap for one hour after dusk, once a week from June to "
            "August. Two volunteers counted and photographed every moth that landed, and a third checked the photos "
            "later without knowing which year they came from.",
            "We also recorded the temperature, the wind and the phase of the moon, since all three change how many "
            "moths fly on a given night.",
            "## 3. Results",
            "Across all sites the mean count per evening rose from 23 to 31. The largest gains were at the three river "
            "sites, where counts almost doubled. Two sites near a busy road showed no change, and one site, where a new "
            "sports field was lit during the second summer, showed a small fall.",
            "## 4. Discussion",
            "Our results suggest that how a lamp is aimed and when it is on matter as much as its colour. Parks that "
            "border water seem to recover fastest, perhaps because they hold more of the plants that young moths feed "
            "on. We plan to repeat the count in 2027 to see whether the change lasts.",
        ]],
        "footer": "- 14 -",
    }))
    pages.append(Document("doc-paper-zh-light", "zh", "light", CSERIF, 18, {
        "size": (1100, 1120), "running": ["城市与社区研究", "2026 年第 2 期"], "indent": 2,
        "title": "老旧小区加装电梯的居民协商过程研究",
        "authors": "陈思远 刘佳 王宁（城市规划学院）",
        "abstract": "摘要：本文以三个老旧小区为例，记录了从提出加装电梯到完成施工的全过程。研究发现，低楼层住户的顾虑主要集中在采光、噪声和出行便利三个方面，"
                    "通过公开费用分摊方案、组织现场参观和设立协调小组，大多数分歧可以在半年内得到解决。",
        "sections": [[
            "## 一、引言",
            "我国城市中有大量建于上世纪八九十年代的多层住宅，普遍没有电梯。随着居民年龄增长，上下楼成为许多老人日常生活中最大的困难。"
            "近年来各地陆续出台补贴政策，鼓励老旧小区加装电梯，但实际推进速度远低于预期。",
            "问题往往不在技术或资金，而在邻里之间的协商。同一个单元里，住在一楼和住在六楼的居民需求完全不同，任何一户反对都可能让项目停下来。",
            "## 二、研究方法",
            "我们在二零二四年至二零二五年间跟踪了三个小区的加装过程，参加了全部十九次居民会议，并对四十二户居民进行了访谈。"
            "访谈内容包括对电梯的期待、担心的问题以及对费用分摊方式的看法。",
            "## 三、主要发现",
            "第一，费用分摊方案越早公开，反对意见越少。按楼层递增的分摊比例最容易被接受，一楼住户通常不需要出资。",
            "第二，组织居民参观已经完工的电梯非常有效。许多担心采光受影响的住户在实地看过之后改变了态度。",
            "第三，由居民自己推选的协调小组比街道直接出面更容易获得信任，协调小组成员最好包括不同楼层的住户。",
            "## 四、结语",
            "加装电梯不只是一项工程，更是一次社区共同决策的练习。本文的经验或许可以为其他城市提供参考。",
        ]],
        "footer": "· 37 ·",
    }))
    pages.append(Document("doc-newsletter-mixed-light", "mixed", "light", CJK, 17, {
        "size": (1200, 900), "titleAlign": "left", "titleSize": 30, "indent": 0,
        "running": ["绿洲社区通讯 Oasis Newsletter", "第 18 期 Issue 18"],
        "title": "社区花园一年记 A year in the community garden",
        "authors": "编辑部 Editorial team",
        "sections": [[
            "去年春天，二号楼后面那块长满杂草的空地变成了社区花园。Last spring the empty lot behind Building 2 became our community garden.",
            "最初只有八户人家报名，现在已经有三十一户在这里种菜、种花。每户分到一块一米乘两米的小地，工具和水管大家共用。",
            "## 收成 Harvest",
            "今年收获最多的是小番茄和四季豆。The cherry tomatoes did best, followed by green beans and basil. 多出来的蔬菜放在门口的共享架上，谁需要都可以拿。",
        ], {"bars": [30, 55, 80, 62, 95, 70], "caption": "图 1 每月参加劳动的家庭数 Figure 1. Households taking part each month"}, [
            "## 明年计划 Plans for next year",
            "我们打算增加一个堆肥箱，把厨房里的菜叶和果皮变成肥料。A compost bin will be added by the east fence.",
            "另外，附近小学的老师希望每个月带学生来上一次自然课。If you can help on Wednesday mornings, please tell the garden team.",
            "报名方式：在物业前台登记，或者发邮件到 garden@example.org。",
        ]],
        "footer": "绿洲社区 Oasis Community 2026",
    }))
    pages.append(Document("doc-news-en-light", "en", "light", SERIF, 17, {
        "size": (1400, 900), "columns": 3, "gap": 30, "margin": 50, "titleSize": 40,
        "running": ["THE HARBOUR GAZETTE", "Thursday, May 21, 2026", "Price 1.50"],
        "title": "Ferry returns to the island after a winter of repairs",
        "authors": "By Colm Reilly, Transport Correspondent",
        "sections": [[
            "The small ferry that links the harbour with Gull Island made its first crossing of the year on Wednesday "
            "morning, three weeks later than planned, after a winter in the dry dock at Northpoint.",
            "About forty passengers, most of them island residents returning from the mainland, waited on the quay "
            "from seven. Several brought flasks of tea, and one family brought a cake for the crew.",
            "## New engines",
            "The ship received two new engines that burn less fuel and make far less noise. The captain, who has run "
            "the route for eleven years, said the crossing now feels calm even in a moderate wind.",
            "Repairs to the landing stage on the island took longer than expected because of storms in March. Workers "
            "replaced most of the wooden deck and added a handrail along the whole length of the ramp.",
            "## Timetable",
            "From this week the ferry sails five times a day, with an extra late crossing on Fridays and Saturdays "
            "until the end of September. Tickets can be bought on board or at the harbour office.",
            "The island school, which closed its doors to visitors during the repairs, will hold its summer fair on "
            "the second Saturday of June. Organisers expect the ferry to be busy and ask visitors to arrive early.",
            "## Cycles welcome",
            "Bicycles travel free on all crossings, but space is limited to twelve per trip. A new rack on the quay "
            "means riders no longer need to carry their cycles down the steps.",
        ]],
        "footer": "Page 3",
    }))
    pages.append(Reader("doc-reader-zh-dark", "zh", "dark", CSERIF, 21, {
        "size": (1400, 900), "book": "《海边的灯塔》 第三章",
        "pages": [
            {"number": "42", "blocks": [
                "## 第三章 雾",
                "那年秋天，雾来得特别早。每天清晨，整个小镇都被一层白色包住，站在码头上连十米外的渔船都看不清。",
                "守塔人老郑已经在灯塔上住了二十年。他说雾天最要紧的不是灯，而是雾笛。灯光在浓雾里走不远，声音却可以传到很远的海面上。",
                "每隔三十秒，雾笛就低低地响一声。镇上的孩子们从小听惯了这个声音，晚上睡觉时数着它，数不到十下就睡着了。",
            ]},
            {"number": "43", "blocks": [
                "有一天下午，一艘陌生的货船在雾里迷了路，绕着海湾转了好几圈。老郑爬上塔顶，把雾笛的间隔改成了十秒，一直守到半夜。",
                "第二天雾散了，货船安安稳稳地停在港口里。船长提着两瓶酒走上山来，说他们是跟着笛声一点一点摸进来的。",
                "老郑没有收那两瓶酒，只是请船长喝了一杯热茶。他说，灯塔本来就是为了让每一条船都能回家。",
            ]},
        ],
    }))
    pages.append(Document("doc-report-en-dark", "en", "dark", LIB, 17, {
        "size": (1200, 860), "titleAlign": "left", "titleSize": 30,
        "running": ["Maple Row Residents Association", "Annual report 2025"],
        "title": "What we did this year",
        "abstract": "This report sums up the work of the association in 2025: the street clean-ups, the repair café, the "
                    "new benches and the money we raised and spent. Thank you to everyone who gave their time.",
        "sections": [[
            "## Street clean-ups",
            "We held six clean-ups, one every other month, and collected about ninety bags of litter. The most "
            "popular was the one in April, when thirty-eight people came and the bakery on the corner gave out free rolls.",
            "## Repair café",
            "On the first Sunday of each month, volunteers fixed lamps, toasters, bicycles and clothes in the church "
            "hall. Over the year they saw 214 items and sent 167 of them home working again.",
            "## New benches",
            "After a vote in March, the council agreed to place four benches along Maple Row. They were installed in "
            "July, and two of them now carry small plaques in memory of long-time neighbours.",
            "## Money",
            "Members paid 1,940 in fees and the summer fair raised 1,210 more. We spent 1,650 on tools, paint and the "
            "repair café, and the rest is kept for next year.",
            "## Next year",
            "We would like to start a tool library, so that neighbours can borrow a drill or a ladder instead of buying "
            "one. If you have tools to lend or a dry place to keep them, please write to the committee.",
        ]],
        "footer": "Maple Row Residents Association - page 2 of 4",
    }))
    pages.append(Document("doc-notes-mixed-dark", "mixed", "dark", CJK, 17, {
        "size": (1200, 580), "titleAlign": "left", "titleSize": 28,
        "running": ["课堂笔记 Lecture notes", "第 6 讲 Week 6"],
        "title": "光的折射 Refraction of light",
        "authors": "整理：许佳 Notes by Xu Jia",
        "sections": [[
            "## 1. 现象 What we see",
            "把一根筷子斜插进装水的杯子里，从侧面看，筷子好像在水面处折断了。A straight stick looks bent where it enters the water.",
            "这是因为光从水进入空气时改变了方向。The light changes direction when it passes from water into air.",
            "## 2. 原因 Why it happens",
            "光在不同物质里传播的速度不同：在空气中最快，在水中慢一些，在玻璃中更慢。Light travels at different speeds in different materials.",
            "速度变化越大，偏折得越厉害。The bigger the change in speed, the more the light bends.",
            "## 3. 生活中的例子 Everyday examples",
            "游泳池看起来比实际浅；放大镜能把字放大；雨后的彩虹也和折射有关。A pool looks shallower than it is, and a lens can make small print larger.",
            "## 4. 课后练习 Homework",
            "用一个透明的杯子和一枚硬币做实验，记录从不同角度看到的现象。Try it with a glass and a coin, and write down what you see from three angles.",
        ]],
        "footer": "第 2 页 Page 2",
    }))
    return pages
