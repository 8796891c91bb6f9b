"""The target states that a power cut during a run could leave.

A run's calls are numbered from 0. snapshots[k] is the target just before call
k, and the last snapshot the target after the run, each as {relative path:
bytes}; the first counts as synced. durable[k] is what call k made durable:
None, ("data", path) for a file's content, ("names", directory) for the names
in a directory, or ("all", device) for the file system `device` (a syncfs).
device_of(path) names the file system that holds a file's bytes, or a
directory's names; by default every path is on one file system, None.

A power cut before call k may leave each file at any content it held from the
snapshot after its last data sync (or sync of its file system) up to
snapshots[k]. A name is certainly there, or certainly absent, when it is so in
every snapshot from its directory's last sync up to k, and may be either
otherwise. A sync of one file system makes nothing on another durable.
A file system that commits a file's new size before its data (ext4 with
data=writeback, XFS) may also leave the bytes appended since its last sync as
zeros.
"""
import os
import random


def power_cut_states(snapshots, durable, mixes, seed=1, device_of=lambda path: None,
                     zeroed=None):
    """Returns [(k, what, state)] over every cut point k: "all lost" (each
    file at its oldest possible content, each uncertain name as at its
    directory's last sync), "all kept" (snapshots[k]), `mixes` seeded
    random choices ("mix") and, where the file `zeroed` grew since its oldest
    possible content, snapshots[k] with its new bytes as zeros ("zeroed
    tail"). A state met before is left out."""
    rng = random.Random(seed)
    data_synced, names_synced, all_synced = {}, {}, {}  # all_synced by device
    found, seen = [], set()
    for k in range(len(snapshots)):
        choices = []  # (path, presence at the directory's sync, may be either, contents)
        for path in sorted(set().union(*snapshots[:k + 1])):
            folder = os.path.dirname(path)
            named = snapshots[max(names_synced.get(folder, 0),
                                  all_synced.get(device_of(folder), 0)):k + 1]
            contents = []
            for tree in snapshots[max(data_synced.get(path, 0),
                                      all_synced.get(device_of(path), 0)):k + 1]:
                if path in tree and tree[path] not in contents:
                    contents.append(tree[path])
            if not contents:  # removed since its last data sync: what it last held
                contents = [next(t[path] for t in reversed(snapshots[:k + 1]) if path in t)]
            either = len({path in tree for tree in named}) == 2
            choices.append((path, path in named[0], either, contents))
        candidates = [("all lost", {p: c[0] for p, synced, _, c in choices if synced}),
                      ("all kept", snapshots[k])]
        for _ in range(mixes):
            candidates.append(("mix", {p: rng.choice(c) for p, synced, either, c in choices
                                       if (rng.random() < 0.5 if either else synced)}))
        old, new = [c[0] for p, _, _, c in choices if p == zeroed][:1], snapshots[k].get(zeroed)
        if old and new and len(new) > len(old[0]) and new.startswith(old[0]):
            candidates.append(("zeroed tail", {**snapshots[k],
                                               zeroed: old[0] + bytes(len(new) - len(old[0]))}))
        for what, state in candidates:
            key = tuple(sorted(state.items()))
            if key not in seen:
                seen.add(key)
                found.append((k, what, state))
        made = durable[k] if k < len(durable) else None
        if made and made[0] == "all":
            all_synced[made[1]] = k + 1
        elif made:
            (data_synced if made[0] == "data" else names_synced)[made[1]] = k + 1
    return found
