"""Tables and lists: data tables in app windows, a file list, an inbox, an invoice, a timetable, a
spreadsheet and a weekly schedule with empty cells."""

from page import Page

CJK = "'Noto Sans CJK SC', sans-serif"
WQY = "'WenQuanYi Micro Hei', sans-serif"
LIB = "'Liberation Sans', 'Noto Sans CJK SC', sans-serif"
DJV = "'DejaVu Sans', 'Noto Sans CJK SC', sans-serif"


def Table(p, header, rows, widths, aligns, cls="tbl"):
    """A table whose each row is one truth line: its non-empty cells joined by single spaces."""
    def Tr(cells, tag):
        texts = [x for x in cells if x]
        spans = iter(p.Row(*texts))
        tds = []
        for i, x in enumerate(cells):
            content = next(spans) if x else ""
            tds.append(f'<{tag} style="width:{widths[i]}px;text-align:{aligns[i]}">{content}</{tag}>')
        return "<tr>" + "".join(tds) + "</tr>"
    out = [f'<table class="{cls}">']
    if header:
        out.append("<thead>" + Tr(header, "th") + "</thead>")
    out.append("<tbody>" + "".join(Tr(r, "td") for r in rows) + "</tbody></table>")
    return "".join(out)


def TableCss(p, fs, striped=True, grid=False):
    c = p.c
    border = f"border:1px solid {c['border']};" if grid else f"border-bottom:1px solid {c['border']};"
    css = (
        f".tbl{{border-collapse:collapse;font-size:{fs}px;table-layout:fixed}}"
        f".tbl th,.tbl td{{padding:8px 12px;{border}white-space:nowrap}}"
        f".tbl th{{color:{c['muted']};font-weight:bold;background:{c['panel']}}}"
    )
    if striped:
        css += f".tbl tbody tr:nth-child(even) td{{background:{c['panel']}}}"
    return css


def Shell(p, fs, d, content):
    """An app window: optional side menu, a title row with buttons, the content, a footer row."""
    c = p.c
    p.css += (
        f".win{{position:absolute;inset:0;display:flex;background:{c['bg']};font-size:{fs}px}}"
        f".side{{width:{d.get('sideWidth', 200)}px;background:{c['side']};border-right:1px solid {c['border']};padding:16px 10px}}"
        f".side .brand{{font-weight:bold;font-size:{fs + 3}px;padding:4px 12px 14px 12px}}"
        f".side .it{{padding:7px 12px;border-radius:6px;display:flex;justify-content:space-between}}"
        f".side .sel{{background:{c['select']};font-weight:bold}} .side .n{{color:{c['muted']}}}"
        f".side .grp{{color:{c['muted']};font-size:{fs - 2}px;padding:14px 12px 4px 12px}}"
        f".mainw{{flex:1;padding:18px 28px;position:relative}}"
        f".ttl{{display:flex;align-items:center;justify-content:space-between;margin-bottom:14px}}"
        f".ttl .h{{font-size:{fs + 8}px;font-weight:bold}}"
        f".btn{{display:inline-block;border:1px solid {c['border']};border-radius:6px;padding:5px 14px;margin-left:10px;background:{c['panel']}}}"
        f".btn.pri{{background:{c['accent']};color:{c['onAccent']};border-color:{c['accent']}}}"
        f".flt{{display:flex;gap:12px;margin-bottom:14px;color:{c['muted']}}}"
        f".flt span{{border:1px solid {c['border']};border-radius:6px;padding:4px 12px}}"
        f".pg{{position:absolute;left:28px;right:28px;bottom:16px;display:flex;justify-content:space-between;color:{c['muted']}}}"
        f".pg .r span{{margin-left:14px}}"
    )
    parts = ['<div class="win">']
    if d.get("side"):
        parts.append('<div class="side">')
        if d.get("brand"):
            parts.append(f'<div class="brand">{p.One(d["brand"])}</div>')
        for i, item in enumerate(d["side"]):
            if item.startswith("#"):
                parts.append(f'<div class="grp">{p.One(item[1:])}</div>')
                continue
            sel = " sel" if i == d.get("selected") else ""
            if "|" in item:
                a, b = p.Row(*item.split("|"))
                parts.append(f'<div class="it{sel}"><span>{a}</span><span class="n">{b}</span></div>')
            else:
                parts.append(f'<div class="it{sel}">{p.One(item)}</div>')
        parts.append("</div>")
    parts.append('<div class="mainw">')
    frags = p.Row(d["title"], *d.get("buttons", []))
    btns = "".join(f'<span class="btn{" pri" if i == len(frags) - 2 else ""}">{b}</span>' for i, b in enumerate(frags[1:]))
    parts.append(f'<div class="ttl"><span class="h">{frags[0]}</span><span>{btns}</span></div>')
    if d.get("filters"):
        parts.append('<div class="flt">' + "".join(f"<span>{x}</span>" for x in p.Row(*d["filters"])) + "</div>")
    parts.append(content())
    if d.get("pager"):
        left, right = d["pager"]
        frags = p.Row(left, *right)
        parts.append(f'<div class="pg"><span>{frags[0]}</span><span class="r">'
                     + "".join(f"<span>{x}</span>" for x in frags[1:]) + "</span></div>")
    parts.append("</div></div>")
    p.body = "".join(parts)


def Pages():
    pages = []

    p = Page("table-orders-en-light", "tables", "en", "light", 1280, 760, "table", LIB)
    p.css += TableCss(p, 14)
    Shell(p, 14, {
        "brand": "Larkspur Store", "side": ["Dashboard", "Orders|86", "Products|312", "Customers", "Discounts", "#Reports", "Sales", "Stock"],
        "selected": 2, "title": "Orders", "buttons": ["Export CSV", "New order"],
        "filters": ["Status: All", "Last 30 days", "Search by customer"],
        "pager": ("Showing 1-10 of 86", ["Previous", "1", "2", "3", "Next"]),
    }, lambda: Table(p, ["Order", "Customer", "Date", "Items", "Total", "Status"], [
        ["#10482", "Hannah Olsen", "Mar 12, 2026", "3", "$84.50", "Shipped"],
        ["#10481", "Marco Bellini", "Mar 12, 2026", "1", "$19.00", "Paid"],
        ["#10480", "Aiko Tanaka", "Mar 11, 2026", "5", "$212.75", "Shipped"],
        ["#10479", "Samuel Okafor", "Mar 11, 2026", "2", "$46.20", "Refunded"],
        ["#10478", "Lucia Fernandez", "Mar 10, 2026", "4", "$133.00", "Delivered"],
        ["#10477", "Peter Novak", "Mar 10, 2026", "1", "$9.99", "Cancelled"],
        ["#10476", "Grace Kim", "Mar 9, 2026", "6", "$301.40", "Delivered"],
        ["#10475", "Omar Haddad", "Mar 9, 2026", "2", "$58.00", "Paid"],
        ["#10474", "Ingrid Berg", "Mar 8, 2026", "3", "$97.15", "Delivered"],
        ["#10473", "David Chen", "Mar 8, 2026", "1", "$24.00", "Delivered"],
    ], [90, 190, 140, 70, 110, 130], ["left", "left", "left", "right", "right", "left"]))
    pages.append(p)

    p = Page("table-stock-zh-dark", "tables", "zh", "dark", 1180, 700, "table", CJK)
    p.css += TableCss(p, 15)
    Shell(p, 15, {
        "title": "库存管理", "buttons": ["导入", "导出表格", "新增商品"],
        "filters": ["全部仓库", "库存低于安全值", "按名称搜索"],
        "pager": ("共 128 条 每页 10 条", ["上一页", "1", "2", "3", "下一页"]),
    }, lambda: Table(p, ["商品编号", "名称", "规格", "库存", "单价（元）", "状态"], [
        ["A-1023", "保温杯", "500 毫升", "240", "59.00", "在售"],
        ["A-1024", "保温杯", "750 毫升", "18", "69.00", "库存不足"],
        ["B-2051", "帆布收纳箱", "大号", "96", "45.50", "在售"],
        ["B-2052", "帆布收纳箱", "小号", "0", "32.00", "缺货"],
        ["C-3107", "竹制砧板", "三件套", "57", "88.00", "在售"],
        ["C-3110", "陶瓷饭碗", "四只装", "133", "36.80", "在售"],
        ["D-4002", "折叠晾衣架", "落地式", "12", "129.00", "库存不足"],
        ["D-4005", "棉麻桌布", "一米四", "64", "49.90", "在售"],
        ["E-5011", "香薰蜡烛", "柑橘味", "210", "25.00", "促销中"],
        ["E-5012", "香薰蜡烛", "雪松味", "178", "25.00", "促销中"],
    ], [120, 200, 140, 90, 130, 140], ["left", "left", "left", "right", "right", "left"]))
    pages.append(p)

    p = Page("table-trains-mixed-light", "tables", "mixed", "light", 1200, 580, "table", CJK)
    c = p.c
    p.css += TableCss(p, 17, striped=True) + (
        f".board{{position:absolute;inset:0;background:{c['bg']};padding:24px 36px}}"
        f".board .h{{display:flex;justify-content:space-between;align-items:baseline;margin-bottom:16px}}"
        f".board .h .t{{font-size:28px;font-weight:bold}} .board .h .s{{font-size:18px;color:{c['muted']}}}"
        f".board .n{{margin-top:18px;font-size:15px;color:{c['muted']}}}"
    )
    title, clock = p.Row("出发 Departures", "当前时间 14:32")
    tbl = Table(p, ["车次 Train", "终点站 To", "出发 Dep.", "站台 Platform", "状态 Status"], [
        ["G1735", "杭州东 Hangzhou East", "14:40", "6", "正在检票 Boarding"],
        ["D3102", "南京南 Nanjing South", "14:52", "3", "正点 On time"],
        ["G7311", "苏州 Suzhou", "15:05", "9", "正点 On time"],
        ["K8362", "合肥 Hefei", "15:18", "11", "晚点 15 分 Delayed 15 min"],
        ["G1502", "北京南 Beijing South", "15:30", "2", "正点 On time"],
        ["D2281", "宁波 Ningbo", "15:46", "7", "正点 On time"],
        ["G7058", "无锡东 Wuxi East", "16:02", "4", "停运 Cancelled"],
        ["T110", "上海南 Shanghai South", "16:15", "5", "正点 On time"],
    ], [150, 260, 120, 160, 260], ["left", "left", "left", "center", "left"])
    note = p.One("请提前十五分钟到达站台 Please be at the platform 15 minutes early")
    p.body = f'<div class="board"><div class="h"><span class="t">{title}</span><span class="s">{clock}</span></div>{tbl}<div class="n">{note}</div></div>'
    pages.append(p)

    p = Page("list-files-mixed-dark", "tables", "mixed", "dark", 1240, 720, "list", CJK)
    p.css += TableCss(p, 14, striped=False)
    Shell(p, 14, {
        "side": ["#收藏 Favorites", "桌面 Desktop", "文档 Documents", "下载 Downloads", "图片 Pictures", "#设备 Devices", "本地磁盘 (C:)", "U 盘 USB Drive"],
        "sideWidth": 220, "selected": 2, "title": "文档 Documents", "buttons": ["新建文件夹", "排序 Sort"],
        "pager": ("9 个项目 9 items", ["已选择 1 项"]),
    }, lambda: Table(p, ["名称 Name", "修改日期 Modified", "类型 Type", "大小 Size"], [
        ["2026 年度预算.xlsx", "2026/03/02 09:14", "Excel 工作表", "86 KB"],
        ["Project Lantern", "2026/02/27 18:40", "文件夹 Folder", ""],
        ["会议纪要 Meeting notes.docx", "2026/02/25 16:05", "Word 文档", "42 KB"],
        ["旅行照片 Trip photos", "2026/02/20 21:33", "文件夹 Folder", ""],
        ["invoice_0213.pdf", "2026/02/13 10:02", "PDF 文件", "318 KB"],
        ["简历 Resume v3.pdf", "2026/01/30 22:47", "PDF 文件", "155 KB"],
        ["readme.txt", "2026/01/18 08:21", "文本文档", "2 KB"],
        ["家庭开支 Household.csv", "2026/01/05 19:56", "CSV 文件", "12 KB"],
        ["scan_0001.png", "2025/12/28 14:10", "PNG 图片", "1.2 MB"],
    ], [330, 200, 160, 110], ["left", "left", "left", "right"]))
    pages.append(p)

    p = Page("list-inbox-en-dark", "tables", "en", "dark", 1300, 700, "list", DJV)
    p.css += TableCss(p, 14, striped=False) + ".tbl th{display:none}"
    Shell(p, 14, {
        "side": ["Inbox|12", "Starred", "Sent", "Drafts|2", "Archive", "Spam", "#Labels", "Family", "Receipts", "Travel"],
        "sideWidth": 190, "selected": 0, "title": "Inbox", "buttons": ["Mark all read", "Compose"],
        "pager": ("1-9 of 1,204", ["Newer", "Older"]),
    }, lambda: Table(p, None, [
        ["Nora Lindqvist", "Garden club: seed swap on Saturday", "9:12 AM"],
        ["City Library", "Your reservation is ready for pickup", "8:47 AM"],
        ["Ferry Line", "Timetable change from April 1", "Yesterday"],
        ["Jonas Weber", "Re: photos from the hike", "Yesterday"],
        ["Bright Energy", "Your March bill is available", "Mar 14"],
        ["Aunt Clara", "Recipe for the plum cake", "Mar 13"],
        ["Bike Repair Shop", "Your bicycle is ready", "Mar 12"],
        ["Helen Ward", "Minutes of the residents meeting", "Mar 11"],
        ["Travel Desk", "Booking confirmed: Lisbon, May 4-9", "Mar 10"],
    ], [200, 560, 120], ["left", "left", "right"]))
    pages.append(p)

    p = Page("table-invoice-zh-light", "tables", "zh", "light", 1000, 1200, "invoice", CJK)
    c = p.c
    p.css += TableCss(p, 15, striped=False, grid=True) + (
        f".inv{{position:absolute;left:60px;top:40px;width:880px;height:1120px;background:{c['bg']};"
        f"box-shadow:0 2px 12px rgba(0,0,0,.2);padding:40px 50px;font-size:15px}}"
        f".inv h1{{text-align:center;font-size:26px;margin:0 0 24px 0;letter-spacing:4px}}"
        f".kv{{display:flex;margin:6px 0}} .kv .k{{width:110px;color:{c['muted']}}}"
        f".tot{{margin-left:auto;width:330px;margin-top:18px}} .tot .kv{{justify-content:space-between}}"
        f".tot .big{{font-size:18px;font-weight:bold;border-top:2px solid {c['text']};padding-top:8px}}"
        f".ft{{position:absolute;left:50px;right:50px;bottom:40px;color:{c['muted']};font-size:13px}}"
    )
    parts = ['<div class="inv">', f'<h1>{p.One("销售单")}</h1>']
    for k, v in [("单号：", "XS-20260315-0042"), ("日期：", "2026年3月15日"), ("客户：", "晨光文具店"), ("联系电话：", "0571-8800 2146")]:
        a, b = p.Row(k, v)
        parts.append(f'<div class="kv"><span class="k">{a}</span><span>{b}</span></div>')
    parts.append('<div style="height:16px"></div>')
    parts.append(Table(p, ["序号", "品名", "数量", "单位", "单价", "金额"], [
        ["1", "中性笔（黑色）", "120", "支", "1.50", "180.00"],
        ["2", "A4 复印纸", "20", "包", "23.00", "460.00"],
        ["3", "文件夹", "50", "个", "3.80", "190.00"],
        ["4", "订书机", "6", "台", "18.50", "111.00"],
        ["5", "便利贴", "40", "本", "2.60", "104.00"],
        ["6", "修正带", "30", "个", "4.20", "126.00"],
    ], [60, 250, 90, 70, 110, 150], ["center", "left", "right", "center", "right", "right"]))
    parts.append('<div class="tot">')
    for k, v, cls in [("合计数量", "266", ""), ("小计", "1,171.00", ""), ("优惠", "-21.00", ""), ("应付金额", "￥1,150.00", " big")]:
        a, b = p.Row(k, v)
        parts.append(f'<div class="kv{cls}"><span>{a}</span><span>{b}</span></div>')
    parts.append("</div>")
    parts.append(f'<div class="ft">{p.One("备注：货物当面点清，如有质量问题请在七日内联系我们。")}</div></div>')
    p.body = "".join(parts)
    pages.append(p)

    p = Page("table-sheet-en-light", "tables", "en", "light", 1100, 520, "spreadsheet", LIB)
    c = p.c
    p.css += (
        f".sh{{position:absolute;inset:0;background:{c['bg']};font-size:14px}}"
        f".fx{{display:flex;align-items:center;border-bottom:1px solid {c['border']};padding:6px 10px;background:{c['panel']}}}"
        f".fx .ref{{width:70px;border:1px solid {c['border']};padding:2px 6px;background:{c['bg']};margin-right:14px}}"
        f".grid{{border-collapse:collapse;table-layout:fixed}}"
        f".grid td{{border:1px solid #d9dce0;padding:5px 8px;white-space:nowrap;height:30px}}"
        f".grid tr:first-child td,.grid td:first-child{{background:{c['panel']};color:{c['muted']};text-align:center !important}}"
        f".tabs{{position:absolute;left:0;right:0;bottom:0;border-top:1px solid {c['border']};background:{c['panel']};padding:6px 14px}}"
        f".tabs span{{margin-right:24px}}"
    )
    ref, formula = p.Row("F3", "=SUM(B3:E3)")
    cells = [
        ["", "A", "B", "C", "D", "E", "F"],
        ["1", "Household budget", "", "", "", "", ""],
        ["2", "Category", "January", "February", "March", "April", "Total"],
        ["3", "Rent", "950", "950", "950", "950", "3800"],
        ["4", "Groceries", "412", "388", "430", "401", "1631"],
        ["5", "Transport", "86", "92", "79", "110", "367"],
        ["6", "Electricity", "64", "71", "58", "49", "242"],
        ["7", "Internet", "35", "35", "35", "35", "140"],
        ["8", "Savings", "300", "250", "300", "350", "1200"],
        ["9", "", "", "", "", "", ""],
        ["10", "Total", "1847", "1786", "1852", "1895", "7380"],
        ["11", "", "", "", "", "", ""],
    ]
    grid = Table(p, None, cells, [46, 170, 120, 120, 120, 120, 120],
                 ["center", "left", "right", "right", "right", "right", "right"], cls="grid")
    tabs = "".join(f"<span>{x}</span>" for x in p.Row("Budget 2026", "Budget 2025", "Notes"))
    p.body = (f'<div class="sh"><div class="fx"><span class="ref">{ref}</span><span>{formula}</span></div>'
              f'{grid}<div class="tabs">{tabs}</div></div>')
    pages.append(p)

    p = Page("table-schedule-zh-light", "tables", "zh", "light", 1100, 680, "timetable", WQY)
    c = p.c
    p.css += TableCss(p, 16, striped=False, grid=True) + (
        f".pg{{position:absolute;inset:0;background:{c['bg']};padding:26px 40px}}"
        f".pg h1{{font-size:24px;margin:0 0 6px 0}} .pg .s{{color:{c['muted']};margin-bottom:16px;font-size:15px}}"
        f".tbl td{{height:52px}}"
    )
    head = p.One("三年级二班 课程表")
    sub = p.One("2026 年春季学期 第 3 周起执行")
    tbl = Table(p, ["节次", "星期一", "星期二", "星期三", "星期四", "星期五"], [
        ["第一节", "语文", "数学", "英语", "语文", "数学"],
        ["第二节", "数学", "语文", "", "科学", "语文"],
        ["第三节", "体育", "音乐", "数学", "", "美术"],
        ["第四节", "英语", "", "道德与法治", "数学", "英语"],
        ["午休", "", "", "", "", ""],
        ["第五节", "科学", "书法", "", "体育", "班会"],
        ["第六节", "", "阅读", "信息技术", "音乐", ""],
    ], [120, 150, 150, 150, 150, 150], ["center"] * 6)
    p.body = f'<div class="pg"><h1>{head}</h1><div class="s">{sub}</div>{tbl}</div>'
    pages.append(p)
    return pages
