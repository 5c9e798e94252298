"""Pages and answers of the Lanzou drive: folder page, file list, file page,
download frame, download request and the final redirect.

A resolver finds its way the way a browser's script does: the folder page names
the list request's parameters in a "data : { ... }" block and script variables;
a file page carries one long signature token (in the frame address, or in the
script when the file has a password); the download request answers "dom" and
"url"; that address redirects to the file itself.
"""

import hashlib
import html
import json

LIST_PATH = "/filemoreajax.php"
AJAX_PATH = "/ajaxm.php"
FRAME_PATH = "/fn"
LINK_PREFIX = "/file/"
DOWNLOAD_PREFIX = "/lanzou/dl/"
PAGE_SIZE = 50
UID = "1274639"

FAULT_MODES = ("page_short", "page_two_tokens", "frame_short", "frame_two_tokens", "ajax_short",
               "no_location", "short_location", "list_invalid_json")


def _token(seed, kind, file_id):
    # 96 word characters: comfortably over the 70 a resolver looks for.
    text = "%s|%s|%s" % (seed, kind, file_id)
    return (hashlib.sha256(text.encode()).hexdigest() + hashlib.sha256((text + "|2").encode()).hexdigest())[:96]


class Site:
    """Lookup tables for one tree's Lanzou part."""

    def __init__(self, tree):
        self.tree = tree
        self.by_page_token = {}
        self.by_frame_sign = {}
        self.by_password_sign = {}
        self.by_link = {}
        self.page_token = {}
        self.frame_sign = {}
        self.password_sign = {}
        self.link = {}
        for file_id, item in tree.lanzou_files.items():
            self.page_token[file_id] = _token(tree.seed, "page", file_id)
            self.frame_sign[file_id] = _token(tree.seed, "frame", file_id)
            self.password_sign[file_id] = _token(tree.seed, "psign", file_id)
            self.link[file_id] = "?" + _token(tree.seed, "link", file_id)[:64]
            self.by_page_token[self.page_token[file_id]] = item
            self.by_frame_sign[self.frame_sign[file_id]] = item
            self.by_password_sign[self.password_sign[file_id]] = item
            self.by_link[self.link[file_id]] = item


def _size_text(size):
    if size >= 1 << 20:
        return "%.1f M" % (size / float(1 << 20))
    return "%.1f K" % (size / 1024.0)


def folder_page(folder):
    """The share page; its script holds the list request the client repeats."""
    password_box = ""
    if folder.password:
        password_box = '<div id="pwdload"><input type="text" id="pwd" placeholder="输入密码"><div id="sub">提交</div></div>\n'
    return ("""<!DOCTYPE html>
<html><head><meta charset="utf-8"><meta name="viewport" content="width=device-width">
<title>Brinemarch 分享文件夹</title></head>
<body>
%s<div id="infos"></div><div id="filemore">更多</div>
<script type="text/javascript">
var pgs;
var %s='%s';
var %s='%s';
pgs =1;
function more(){
	$.ajax({
		type : 'post',
		url : '/filemoreajax.php',
		data : { 
					'lx':2,
					'fid':%d,
					'uid':'%s',
					'pg':pgs,
					'rep':'0',
					't':%s,
					'k':%s,
					'up':1,
					'ls':1,
					'pwd':pwd
			},
		dataType : 'json',
		success:function(msg){ pgs++; },
		error:function(){ }
	});
}
var pwd;
</script>
</body></html>
""" % (password_box, folder.t_var, folder.t_value, folder.k_var, folder.k_value, folder.fid, UID,
       folder.t_var, folder.k_var)).encode("utf-8")


def list_answer(tree, form):
    """The filemoreajax.php answer object for a parsed form."""
    try:
        fid = int(form.get("fid", ""))
        pg = int(form.get("pg", ""))
    except ValueError:
        return {"zt": 4, "info": "请刷新，重试", "text": 0}
    folder = tree.lanzou_by_fid.get(fid)
    if folder is None or pg < 1:
        return {"zt": 4, "info": "请刷新，重试", "text": 0}
    if form.get("t") != folder.t_value or form.get("k") != folder.k_value or form.get("lx") != "2":
        return {"zt": 4, "info": "请刷新，重试", "text": 0}
    if folder.password and form.get("pwd") != folder.password:
        return {"zt": 3, "info": "密码不正确", "text": 0}
    shown = folder.files[(pg - 1) * PAGE_SIZE:pg * PAGE_SIZE]
    if not shown:
        return {"zt": 2, "info": "没有了", "text": 0}
    dot = lambda n: n.rsplit(".", 1)[-1] if "." in n else ""
    return {"zt": 1, "info": "成功", "text": [
        {"icon": dot(item.name), "t": 0, "id": item.id, "name_all": item.name, "size": _size_text(item.content.size),
         "time": "2024-04-02", "duan": item.id[:6], "p_ico": 0} for item in shown]}


def file_page(site, item, extra_token=False):
    name = html.escape(item.name)
    if item.password:
        body = ("""<div class="passwddiv"><input type="text" id="pwd" placeholder="输入密码">
<div class="passwddiv-btn" onclick="down_p()">下载</div></div>
<script type="text/javascript">
var skdklds = '%s';
function down_p(){
	var pwd = document.getElementById('pwd').value;
	$.ajax({ type : 'post', url : '/ajaxm.php', data : { 'action':'downprocess','sign':skdklds,'p':pwd }, dataType : 'json' });
}
</script>""" % site.password_sign[item.id])
    else:
        body = ('<iframe class="ifr2" name="1712" src="/fn?%s" frameborder="0" scrolling="no"></iframe>'
                % site.page_token[item.id])
    if extra_token:
        body += "\n<!-- %s -->" % _token(site.tree.seed, "decoy", item.id)
    return ("""<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>%s - 分享文件</title></head>
<body><div class="d"><div class="md">%s <span class="mtt">( %s )</span></div>
%s
</div></body></html>
""" % (name, name, _size_text(item.content.size), body)).encode("utf-8")


def frame_page(site, item, extra_token=False):
    decoy = ("var spare = '%s';\n" % _token(site.tree.seed, "decoy2", item.id)) if extra_token else ""
    return ("""<!DOCTYPE html>
<html><head><meta charset="utf-8"></head><body><div id="go"></div>
<script type="text/javascript">
var ajaxdata = '?ctdf';
%s$.ajax({
	type : 'post',
	url : '/ajaxm.php',
	data : { 'action':'downprocess','signs':ajaxdata,'sign':'%s','websign':'','websignkey':'Zx9q','ves':1 },
	dataType : 'json'
});
</script></body></html>
""" % (decoy, site.frame_sign[item.id])).encode("utf-8")


def ajax_answer(site, form, origin):
    """The ajaxm.php answer object: the file's download host and part, or an error."""
    if form.get("action") != "downprocess":
        return {"zt": 0, "inf": "参数错误"}
    sign = form.get("sign", "")
    if sign.endswith("_c_c") and form.get("ves") == "1":
        item = site.by_frame_sign.get(sign[:-4])
        if item is not None and not item.password:
            return {"zt": 1, "dom": origin, "url": site.link[item.id], "inf": item.name}
        return {"zt": 0, "inf": "签名已失效，请刷新页面"}
    item = site.by_password_sign.get(sign)
    if item is None or not item.password:
        return {"zt": 0, "inf": "签名已失效，请刷新页面"}
    if form.get("p") != item.password:
        return {"zt": 0, "inf": "密码不正确"}
    return {"zt": 1, "dom": origin, "url": site.link[item.id], "inf": item.name}


def encode(answer):
    # The service escapes non-ASCII and slashes, as PHP's json_encode does.
    return json.dumps(answer, ensure_ascii=True, separators=(",", ":")).replace("/", "\\/").encode("ascii")
