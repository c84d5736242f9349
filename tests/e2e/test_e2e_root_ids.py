"""The root object ids: the bridge's root proxies, the devkit's table of them and the add-in
stand-in must name the same objects by the same numbers."""
import json
import os
import subprocess

from devkit.addin_process import _child_env, find_node
from devkit.root_ids import FIRST_FREE_ID, ROOT_IDS

ADDIN = os.path.join(os.path.dirname(__file__), "..", "..", "devkit", "addin")

# What the stand-in pins under each id, and the first id it hands out to anything else.
PROBE = """
const { Addin } = require('./addin');
const { ROOT_IDS } = require('./host');
const addin = new Addin({ send: () => {} });
const pinned = {};
for (const [id, object] of addin.table._pinned) pinned[id] = object;
const name = { context: 'Context', excel: 'Excel', getSetting: 'GetSetting' };
const roots = {};
for (const [key, id] of Object.entries(ROOT_IDS)) {
  if (!(id in pinned)) throw new Error(`root ${key} is not pinned`);
  roots[name[key]] = id;
}
console.log(JSON.stringify({ roots, pinned: Object.keys(pinned).map(Number), first: addin.table._nextId }));
"""


def test_bridge_devkit_and_addin_agree_on_the_root_ids():
    from cellumo_master.python_server.cellumo import ostrel

    assert {name: getattr(ostrel, name)._internal_id for name in ROOT_IDS} == ROOT_IDS
    proc = subprocess.run([find_node(), "-e", PROBE], cwd=ADDIN, capture_output=True, text=True,
                          timeout=120, env=_child_env())
    assert proc.returncode == 0, proc.stderr
    seen = json.loads(proc.stdout)
    assert seen["roots"] == ROOT_IDS
    assert sorted(seen["pinned"]) == sorted(ROOT_IDS.values())
    assert seen["first"] == FIRST_FREE_ID
