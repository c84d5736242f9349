"""The fixed object ids of the bridge's root proxies: the add-in resolves them in every session
without being told about them, and hands out other ids from FIRST_FREE_ID on. The add-in stand-in
(devkit/addin/host.js) keeps the same numbers; a test checks that both agree with the bridge."""

ROOT_IDS = {"Context": 0, "Excel": 1, "GetSetting": 2}
FIRST_FREE_ID = max(ROOT_IDS.values()) + 1
