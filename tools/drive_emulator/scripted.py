"""Scripted answers: exact bodies and headers that a test sets for a path, for the
edge cases the generated pages never produce (a page of exactly 49 characters, a
Location of exactly 30, a token one character short, ...).

Set with POST /__control {"pages": {TARGET: PAGE | null, ...} | null}:
TARGET is a request target ("/x" or "/x?y"; one with a query is matched first,
then the path alone), PAGE {"status": 200, "body": "text", "headers": [[name,
value], ...], "content_type": "text/html; charset=utf-8"}, every key optional.
A PAGE answers every method and takes precedence over the routes; null removes
one target, a null "pages" removes all. "reset" removes all too.
"""

import threading


class Page:
    def __init__(self, options):
        if not isinstance(options, dict):
            raise ValueError("a scripted page must be an object")
        self.status = int(options.get("status", 200))
        self.body = str(options.get("body", "")).encode("utf-8")
        self.content_type = str(options.get("content_type", "text/html; charset=utf-8"))
        headers = options.get("headers", [])
        if not isinstance(headers, list) or not all(isinstance(h, list) and len(h) == 2 for h in headers):
            raise ValueError("scripted headers must be [[name, value], ...]")
        self.headers = [(str(name), str(value)) for name, value in headers]


class Pages:
    def __init__(self):
        self._lock = threading.Lock()
        self._pages = {}

    def clear(self):
        with self._lock:
            self._pages = {}

    def update(self, table):
        if table is None:
            return self.clear()
        if not isinstance(table, dict):
            raise ValueError("pages must be an object or null")
        parsed = {target: (None if options is None else Page(options)) for target, options in table.items()}
        with self._lock:
            for target, page in parsed.items():
                if page is None:
                    self._pages.pop(target, None)
                else:
                    self._pages[target] = page

    def find(self, path, query):
        with self._lock:
            if not self._pages:
                return None
            page = self._pages.get(path + "?" + query) if query else None
            return page or self._pages.get(path)
