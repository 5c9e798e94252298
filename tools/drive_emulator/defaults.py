"""Fixed values shared by the emulator, its tests and the C++ build (via defaults.json).

The C++ build compiles these into the client, so changing one here means changing
the client too: keep defaults.json in step (`drive_emulator.py --write-defaults`).
"""

HTTP_PORT = 18430
TLS_PORT = 18431
HOST = "127.0.0.1"

SHARE_TOKEN = "Xq4rTaWmBbN2pLsE7vYc9dKhU3z"

ORIGIN = "http://%s:%d" % (HOST, HTTP_PORT)

# The session cookie lines a signed-in browser would send: the listing line (417
# characters) and the longer download line (2612 characters) of the same session.
COOKIE_LINES = {
    "list": (
        "Cookie: bm_session=M0XvqZjxTW3xvboSRt5Mh3dA; bm_session_ss=wVtRMflhbmuaptt0Azn0DNRU; bm_"
        "device_id=QxA71p2Td8VKqxryo1nIj7BR; bm_csrf_token=d03Q2ybv097SHzxgQA6TCvY4; bm_tenant=dh"
        "KMlRdZQ9QsTXUuSnH6av1I; bm_passport_trace=b8pp1xxXHU0BScJXj675eVq3; bm_lang=0XYqaNUDqN9N"
        "ifp28uwCDydesokF5NSAllsNdV40J599dTCZWZYvRSZeyx4Ag8SsaxTmknuj64AX6VM2ewMuBY6rfNcAKEIOUttY"
        "pATIk27f4t3tGolUByxRmXBYQ0DVbpag1xYKiuMw7TpHD8BHbNdZU0NYJ2gClNbc7"
    ),
    "download": (
        "cookie:bm_session=M0XvqZjxTW3xvboSRt5Mh3dA; bm_session_ss=wVtRMflhbmuaptt0Azn0DNRU; bm_d"
        "evice_id=QxA71p2Td8VKqxryo1nIj7BR; bm_csrf_token=d03Q2ybv097SHzxgQA6TCvY4; bm_tenant=dhK"
        "MlRdZQ9QsTXUuSnH6av1I; bm_passport_trace=b8pp1xxXHU0BScJXj675eVq3; bm_lang=0XYqaNUDqN9Ni"
        "fp28uwCDydesokF5NSAllsNdV40J599dTCZWZYvRSZeyx4Ag8SsaxTmknuj64AX6VM2ewMuBY6rfNcAKEIOUttYp"
        "ATIk27f4t3tGolUByxRmXBYQ0DVbpag1xYKiuMw7TpHD8BHbNdZU0NYJ2gClNbc7; bm_web_ticket=Zqumpm08"
        "hsE8JNpjJOQGa2rb19FlY0mG1ylvuhfJXqIEnomef2mSJ5CMTIeg1ZTVnVv2fgKD0f6Y; bm_sl_session=YIgr"
        "COX6Jhw7Hd11XzWL8MHpoKEzViXZya8cdFOcVwWBhqG5KSFdPE0SPgjtHfb1F6w70WAKadYE; bm_device_fp=j"
        "W1W5bSapfQ7Dh3yEg42ipqnX1fkkjbd93oQGXy9KTUMAFGrM14gENAsIrsD3mbLFecbVjafQ4gG; bm_uid_toke"
        "n=nRfXBkg8QysD4FIS0Xzm41PB2qs353f2Huu6mXrxWUREVXXPHzGIz3qyV4J1TQt7frRgjix7YSdn; bm_swp_c"
        "srf=60LNJMRLdHb2U9LhOS0irYkPvdRHUNL9yf4StfxDPNV2adCV1jFzYI20eBahcyXic6YOZq0M7qO6; bm_loc"
        "ale_pref=0lI5QfecJUyGTelVEnIKXVuuEomFKB8KyVQ3JYmzSgnYNPPtPQvv9PBmGGwYPnqwYo8kwQj1qH9C; b"
        "m_msToken=stFpS8gELRersl9a6sLABHHNBSz40ZgRCZ3IwEF6y5kyy3JBNWqb9Mt8sCG3CRKbKeyv6xQrM3hw; "
        "bm_ttwid=wjhCS6jkdFKsvw8f46QqXYilvBSbELgGOBomUOLc877EgNB6bfbdUwFDrzIe3mGxHoL43ScQQYK8; b"
        "m_login_state=TUkl1JYnrw8tdVIIfHmxOCTQE8phIECUyUALDgxkhOFosZYG9uVqv8ExVuo5Zbcb99JpX9M02b"
        "B3; bm_region=f8nUVRBoMFTXptvp7WhPvFMKFl8zE8Ajlb0cdkbx9ZFqJDGf1rB853IgN95Dci7xD93lgWk7J6"
        "rW; bm_gateway_sid=s77hSx91HqaksrCoAqUvlPaJQ5WE2RlTZQcYTbYTTBPynZzih6tZg1v6tnOLD5pIrRzgi"
        "QXbhGLb; bm_sso_ticket=itAhCrNipR0HjXFZfTvMUHoXTBzyTzbmncNnz5BhgJjH3LZ7wM6GKHVjk9tCSi5eI"
        "eeaAXZY7rzs; bm_expires_hint=j6HoV5D0bA2DAzqx2T4Rc1hotdHNYgt0sgCWBn1Bue6bsBu4RstbtSPrwfm"
        "74O5bFGEhS2v3y7X6; bm_odin_tt=Qd4VKW0y1tpQP3JTkLoaz48FcB9Q88zxNWtfcbIU3oyG3s6apzxDR91GvV"
        "zW1WHLbA6RR3KBBmaM; bm_sid_guard=31d8gfXEsmvvroDJYlviXJxwM55dkAiByZzlcYLJg1WZ7GLUBiYWSnL"
        "J2ki8zhPjGbSwmOXpybPd; bm_uid_tt=72QNWSF3EH6FEhcKtkErbdgVK0lE89hxt9fTy6aHNoiehEwLhqqA8Fu"
        "tShQVR3DC9Phj1ctgabuD; bm_sid_tt=AfICpKptRCGBugH6cVJjkl8iJFHRnKf9k3wmlu4MtdBcyxx9lgR71LK"
        "JoXXOc7SxBYmZvexu6Qdc; bm_sessionid_ss=NW3aclJ4wcd3FkyOt9PO5kgqUFe6qEPJZjRc2DyGUQg6nEe62"
        "Dl4E7vIrxiMCzFHCRQ44IHJ5lBy; bm_store_region=Nt5TPiKEuor5ClFKHu6MUbgXOsHzoMp7BKOHNfEkalT"
        "2ib0Z8voX2D86ByvkNx5MYjCPC1zaPLva; bm_store_idc=LO7ZOE8JV45sXqGwpFOB1edmZ9AZnSgYWGB3c5pj"
        "drDkfAIfAalRM8rUwhu9w1384y8HjM8u8Uu6; bm_tt_scid=bBLRWFeq4Af3SYYsGsJGRg8Tu9g7paGhnd7RVRX"
        "FBJOI5sCDygs4DvLWosjsoPhijNBhWwzR9FoI; bm_passport_csrf=A7TjIP1sMufNvNbQtd6clKDmpUieSk4f"
        "PaTPsu2Bvqo4Mblp1gzu3oOHPkSpbMlpiJdqkQzYP6PT; bm_n_mh=5mJq36wPRhYQDs8WKeW1gsC48aqm0xz19r"
        "BPQ17AcSGb8Q9T6IMaVF3bDWbcXh2iEHO4ck7nEbkd; bm_s_v_web_id=tmq9yDCMSc0hf3KjWevOvPf4GNiMPS"
        "bf8nPblDH8qrCx1d12MZTOLgc69fieW7G93UpzVQ5Tr6sv2IDAzqKzV9a6rD"
    ),
}

# Lanzou pages live on the TLS port. The client builds the list address as
# "https://" + first host label of the share + "." + domain, so a share on
# https://127.0.0.1:18431/... composes back to the same host with this domain.
# The alternate label replaces the domain's first label ("0") when a link fails;
# "0" keeps that retry on the same loopback address.
LANZOU_DOMAIN = "0.0.1:%d" % TLS_PORT
LANZOU_ALT_LABEL = "0"
LANZOU_SHARE_ID = "b0bm7dq2xa"
LANZOU_LOCKED_SHARE_ID = "b0bm9pw5kc"
LANZOU_LOCKED_SHARE_PASSWORD = "bm25"

DEFAULTS = {
    "list_cookie": COOKIE_LINES["list"],
    "download_cookie": COOKIE_LINES["download"],
    "http_port": HTTP_PORT,
    "tls_port": TLS_PORT,
    "lanzou_domain": LANZOU_DOMAIN,
    "lanzou_alt_label": LANZOU_ALT_LABEL,
    "share_url": ORIGIN + "/drive/folder/" + SHARE_TOKEN,
    "list_origin": ORIGIN,
    "download_origin": ORIGIN,
    "ipecho_url": ORIGIN + "/ipecho",
    "lanzou_share_url": "https://%s:%d/%s" % (HOST, TLS_PORT, LANZOU_SHARE_ID),
}
