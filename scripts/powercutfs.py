#!/usr/bin/python3
"""A filesystem that loses power: a FUSE mount held in memory that keeps
what was made durable and, at a cut, keeps nothing else.

Usage (root; Debian fuse3 and python3-pyfuse3):
    powercutfs.py STORE MOUNTPOINT CONTROL [--model ordered|zeros|torn]
                  [--cut-after N] [--cut-from NAME] [--seed S] [--log FILE]
                  [--size BYTES]

STORE is a folder whose files become the mount's durable content. CONTROL
is a folder for talking to the soak: "ready" appears once mounted; a file
"cut" written there (or the N-th changing request with --cut-after, counted from the first one that touches
a file named NAME with --cut-from) cuts the
power: the mount refuses every later request (EIO), the surviving state is
written to CONTROL/after/ (files with their bytes, modes, times and Wine's
attribute xattr) and "cut.done" appears, holding the figures of the cut.
Unmounting ends the process. "idle" in CONTROL answers what is pending
without cutting ("idle.done").

The model of what survives, close to NTFS (see docs/decisions.md):
- Changes of names and metadata (create, mkdir, rename, unlink, rmdir,
  size, mode, times, xattrs) form one ordered log, as the NTFS log does. An
  fsync of a file or folder makes the log durable up to the last change
  that touched it (and so everything before that); at the cut a random
  prefix of what is not durable survives besides.
- File data survives only as far as it was fsync'd: a file's bytes after
  the cut are its bytes at its last fsync, cut to its surviving size.
  "zeros": where the surviving size is beyond those bytes, zeros (data past
  the valid length). "torn": besides, each write since the last fsync
  survives or not at random, in order (a disk that wrote some pages back).
"""
import argparse
import errno
import os
import random
import stat
import sys
import time

import pyfuse3
import trio

ROOT = pyfuse3.ROOT_INODE
# A file keeps its number across a cut, as NTFS keeps its file index: the
# dump holds it in this attribute.
INODE_XATTR = "user.powercutfs.inode"


class Node:
    __slots__ = ("kind", "mode", "size", "atime", "mtime", "ctime", "xattrs", "nlink")

    def __init__(self, kind, mode, size=0):
        now = time.time_ns()
        self.kind = kind  # "f" or "d"
        self.mode = mode
        self.size = size
        self.atime = self.mtime = self.ctime = now
        self.xattrs = {}
        self.nlink = 1

    def copy(self):
        other = Node.__new__(Node)
        for slot in Node.__slots__:
            setattr(other, slot, getattr(self, slot))
        other.xattrs = dict(self.xattrs)
        return other


class Tree:
    """Names and metadata (no file data): what the ordered log changes."""

    def __init__(self):
        self.nodes = {ROOT: Node("d", stat.S_IFDIR | 0o755)}
        self.entries = {ROOT: {}}  # folder inode -> {name: inode}

    def copy(self):
        other = Tree.__new__(Tree)
        other.nodes = {ino: node.copy() for ino, node in self.nodes.items()}
        other.entries = {ino: dict(names) for ino, names in self.entries.items()}
        return other

    def apply(self, op):
        kind = op[0]
        if kind == "link":  # create or mkdir: (link, parent, name, ino, node)
            _, parent, name, ino, node = op
            self.nodes[ino] = node.copy()
            if node.kind == "d":
                self.entries.setdefault(ino, {})
            self.entries[parent][name] = ino
        elif kind == "unlink":
            _, parent, name = op
            self.entries[parent].pop(name, None)
        elif kind == "rename":
            _, p1, n1, p2, n2 = op
            ino = self.entries[p1].pop(n1, None)
            if ino is not None:
                self.entries[p2][n2] = ino
        elif kind == "attr":  # (attr, ino, field, value)
            _, ino, field, value = op
            node = self.nodes.get(ino)
            if node is not None:
                setattr(node, field, value)
        elif kind == "xattr":
            _, ino, name, value = op
            node = self.nodes.get(ino)
            if node is not None:
                if value is None:
                    node.xattrs.pop(name, None)
                else:
                    node.xattrs[name] = value

    def reachable(self):
        """{inode: relative path} of every name reachable from the root."""
        found, todo = {}, [(ROOT, "")]
        while todo:
            folder, path = todo.pop()
            for name, ino in self.entries.get(folder, {}).items():
                rel = os.path.join(path, os.fsdecode(name))
                found.setdefault(ino, []).append(rel)
                if self.nodes[ino].kind == "d":
                    todo.append((ino, rel))
        return found


class PowerCutFS(pyfuse3.Operations):
    def __init__(self, args):
        super().__init__()
        self.args = args
        self.rng = random.Random(args.seed)
        self.live = Tree()
        self.durable = Tree()
        self.pending = []  # ops of the log not yet durable: (op, touched inodes)
        self.data = {}  # inode -> bytearray, as the live system sees it
        self.synced = {}  # inode -> bytes at its last fsync
        self.unsynced = {}  # inode -> [(offset, bytes) or ("size", n)] since then
        self.next_ino = ROOT + 1
        self.cut = False
        self.changes = 0
        self.counting = not args.cut_from
        self.name_of = {}  # inode -> its last name
        self.logf = open(args.log, "a", buffering=1) if args.log else None
        self.load(args.store)

    # ---- the durable store ----------------------------------------------

    def load(self, store):
        def walk(folder, parent):
            for name in sorted(os.listdir(folder)):
                path = os.path.join(folder, name)
                st = os.lstat(path)
                node = Node("d" if stat.S_ISDIR(st.st_mode) else "f", st.st_mode)
                node.atime, node.mtime, node.ctime = st.st_atime_ns, st.st_mtime_ns, st.st_ctime_ns
                ino = None
                for key in os.listxattr(path):
                    if key == INODE_XATTR:
                        ino = int(os.getxattr(path, key))
                    else:
                        node.xattrs[key.encode()] = os.getxattr(path, key)
                if ino is None or ino in self.live.nodes:
                    ino = self.new_ino()
                self.next_ino = max(self.next_ino, ino + 1)
                self.live.nodes[ino] = node
                self.live.entries[parent][os.fsencode(name)] = ino
                self.name_of[ino] = os.fsencode(name)
                if node.kind == "d":
                    self.live.entries[ino] = {}
                    walk(path, ino)
                else:
                    with open(path, "rb") as f:
                        content = f.read()
                    node.size = len(content)
                    self.data[ino] = bytearray(content)
                    self.synced[ino] = bytes(content)
        walk(store, ROOT)
        self.durable = self.live.copy()

    def new_ino(self):
        ino = self.next_ino
        self.next_ino += 1
        return ino

    def after_cut(self):
        """The state that survives a cut now: (tree, {inode: bytes})."""
        tree = self.durable.copy()
        keep = self.rng.randint(0, len(self.pending))
        for op, _ in self.pending[:keep]:
            tree.apply(op)
        contents = {}
        for ino, node in tree.nodes.items():
            if node.kind != "f":
                continue
            base = bytearray(self.synced.get(ino, b""))
            if self.args.model == "torn":
                for item in self.unsynced.get(ino, []):
                    if self.rng.random() < 0.5:
                        continue
                    if item[0] == "size":
                        del base[item[1]:]
                    else:
                        offset, chunk = item
                        if len(base) < offset:
                            base.extend(bytes(offset - len(base)))
                        base[offset:offset + len(chunk)] = chunk
            size = node.size
            if len(base) >= size:
                contents[ino] = bytes(base[:size])
            elif self.args.model == "ordered":
                contents[ino] = bytes(base)
            else:
                contents[ino] = bytes(base) + bytes(size - len(base))
        return tree, contents, keep

    def dump(self, out):
        tree, contents, keep = self.after_cut()
        os.makedirs(out, exist_ok=True)
        paths = tree.reachable()
        # Folders first, outermost first, then files (a second name gets a copy).
        for ino, names in sorted(paths.items(), key=lambda item: min(len(n) for n in item[1])):
            node = tree.nodes[ino]
            for rel in names:
                target = os.path.join(out, rel)
                if node.kind == "d":
                    os.makedirs(target, exist_ok=True)
        for ino, names in paths.items():
            node = tree.nodes[ino]
            for rel in names:
                target = os.path.join(out, rel)
                if node.kind == "f":
                    with open(target, "wb") as f:
                        f.write(contents.get(ino, b""))
                for key, value in list(node.xattrs.items()) + [(INODE_XATTR.encode(), str(ino).encode())]:
                    try:
                        os.setxattr(target, key, value)
                    except OSError:
                        pass
                os.chmod(target, stat.S_IMODE(node.mode))
        for ino, names in paths.items():
            node = tree.nodes[ino]
            for rel in names:
                os.utime(os.path.join(out, rel), ns=(node.atime, node.mtime))
        return "pending=%d kept=%d changes=%d" % (len(self.pending), keep, self.changes)

    # ---- the log -----------------------------------------------------------

    def trace(self, text):
        if self.logf:
            self.logf.write(text + "\n")

    def record(self, op, touched):
        """One change of names or metadata, applied live, durable later."""
        self.live.apply(op)
        self.pending.append((op, tuple(touched)))
        if op[0] == "link":
            self.name_of[op[3]] = op[2]
        elif op[0] == "rename":
            self.name_of[touched[2]] = op[4]
        self.changed(touched)

    def changed(self, touched):
        if not self.counting:
            if not any(self.name_of.get(ino) == self.args.cut_from for ino in touched):
                return
            self.counting = True
        self.changes += 1
        if self.args.cut_after and self.changes >= self.args.cut_after:
            self.power_cut()

    def make_durable(self, ino):
        """fsync of ino: the log up to the last change that touched it."""
        last = -1
        for i, (_, touched) in enumerate(self.pending):
            if ino in touched:
                last = i
        for op, _ in self.pending[:last + 1]:
            self.durable.apply(op)
        del self.pending[:last + 1]

    def power_cut(self):
        if self.cut:
            return
        figures = self.dump(os.path.join(self.args.control, "after"))
        self.cut = True
        self.trace("CUT " + figures)
        with open(os.path.join(self.args.control, "cut.done"), "w") as f:
            f.write(figures + "\n")

    def check(self, what):
        if not self.cut:
            self.poll_control()
        if self.cut:
            raise pyfuse3.FUSEError(errno.EIO)
        if self.logf:
            self.trace(what)

    def poll_control(self):
        control = self.args.control
        if os.path.exists(os.path.join(control, "cut")):
            os.remove(os.path.join(control, "cut"))
            self.power_cut()
        elif os.path.exists(os.path.join(control, "idle")):
            os.remove(os.path.join(control, "idle"))
            with open(os.path.join(control, "idle.done"), "w") as f:
                f.write("pending=%d unsynced=%d\n" % (len(self.pending), sum(1 for v in self.unsynced.values() if v)))

    # ---- requests ------------------------------------------------------------

    def attrs(self, ino):
        node = self.live.nodes.get(ino)
        if node is None:
            raise pyfuse3.FUSEError(errno.ENOENT)
        entry = pyfuse3.EntryAttributes()
        entry.st_ino = ino
        entry.st_mode = node.mode
        entry.st_nlink = 2 if node.kind == "d" else node.nlink
        entry.st_size = node.size if node.kind == "f" else 4096
        entry.st_atime_ns, entry.st_mtime_ns, entry.st_ctime_ns = node.atime, node.mtime, node.ctime
        entry.st_uid = entry.st_gid = 0
        entry.st_blksize = 4096
        entry.st_blocks = (entry.st_size + 511) // 512
        entry.entry_timeout = entry.attr_timeout = 0
        entry.generation = 0
        return entry

    def child(self, parent, name):
        names = self.live.entries.get(parent)
        if names is None:
            raise pyfuse3.FUSEError(errno.ENOTDIR)
        ino = names.get(name)
        if ino is None:
            raise pyfuse3.FUSEError(errno.ENOENT)
        return ino

    async def lookup(self, parent, name, ctx=None):
        self.check("lookup %d %r" % (parent, name))
        if name == b".":
            return self.attrs(parent)
        if name == b"..":
            return self.attrs(ROOT)
        return self.attrs(self.child(parent, name))

    async def getattr(self, inode, ctx=None):
        self.check("getattr %d" % inode)
        return self.attrs(inode)

    async def setattr(self, inode, attr, fields, fh, ctx):
        self.check("setattr %d size=%s mode=%s times=%s" % (
            inode, fields.update_size and attr.st_size, fields.update_mode and oct(attr.st_mode),
            fields.update_mtime or fields.update_atime))
        node = self.live.nodes[inode]
        if fields.update_size:
            content = self.data.setdefault(inode, bytearray())
            if attr.st_size < len(content):
                del content[attr.st_size:]
            else:
                content.extend(bytes(attr.st_size - len(content)))
            self.unsynced.setdefault(inode, []).append(("size", attr.st_size))
            self.record(("attr", inode, "size", attr.st_size), [inode])
        if fields.update_mode:
            self.record(("attr", inode, "mode", (node.mode & ~0o7777) | (attr.st_mode & 0o7777)), [inode])
        if fields.update_atime:
            self.record(("attr", inode, "atime", attr.st_atime_ns), [inode])
        if fields.update_mtime:
            self.record(("attr", inode, "mtime", attr.st_mtime_ns), [inode])
        return self.attrs(inode)

    async def getxattr(self, inode, name, ctx):
        self.check("getxattr %d %r" % (inode, name))
        value = self.live.nodes[inode].xattrs.get(name)
        if value is None:
            raise pyfuse3.FUSEError(pyfuse3.ENOATTR)
        return value

    async def setxattr(self, inode, name, value, ctx):
        self.check("setxattr %d %r %r" % (inode, name, value))
        self.record(("xattr", inode, name, bytes(value)), [inode])

    async def listxattr(self, inode, ctx):
        self.check("listxattr %d" % inode)
        return list(self.live.nodes[inode].xattrs)

    async def removexattr(self, inode, name, ctx):
        self.check("removexattr %d %r" % (inode, name))
        if name not in self.live.nodes[inode].xattrs:
            raise pyfuse3.FUSEError(pyfuse3.ENOATTR)
        self.record(("xattr", inode, name, None), [inode])

    async def opendir(self, inode, ctx):
        self.check("opendir %d" % inode)
        if self.live.nodes[inode].kind != "d":
            raise pyfuse3.FUSEError(errno.ENOTDIR)
        return inode

    async def readdir(self, fh, start_id, token):
        self.check("readdir %d %d" % (fh, start_id))
        names = sorted(self.live.entries.get(fh, {}).items())
        for i, (name, ino) in enumerate(names[start_id:], start_id):
            if not pyfuse3.readdir_reply(token, name, self.attrs(ino), i + 1):
                break

    async def releasedir(self, fh):
        pass

    async def fsyncdir(self, fh, datasync):
        self.check("fsyncdir %d" % fh)
        self.make_durable(fh)

    async def statfs(self, ctx):
        self.check("statfs")
        st = pyfuse3.StatvfsData()
        used = sum(len(d) for d in self.data.values())
        st.f_bsize = st.f_frsize = 4096
        st.f_blocks = self.args.size // 4096
        st.f_bfree = st.f_bavail = max(st.f_blocks - (used + 4095) // 4096, 0)
        st.f_files = st.f_ffree = st.f_favail = 1 << 20
        st.f_namemax = 255
        return st

    def add(self, parent, name, mode, kind):
        if name in self.live.entries.get(parent, {}):
            raise pyfuse3.FUSEError(errno.EEXIST)
        ino = self.new_ino()
        node = Node(kind, mode)
        if kind == "f":
            self.data[ino] = bytearray()
        self.record(("link", parent, name, ino, node), [parent, ino])
        return ino

    async def mkdir(self, parent, name, mode, ctx):
        self.check("mkdir %d %r" % (parent, name))
        return self.attrs(self.add(parent, name, stat.S_IFDIR | (mode & 0o7777), "d"))

    async def create(self, parent, name, mode, flags, ctx):
        self.check("create %d %r" % (parent, name))
        ino = self.add(parent, name, stat.S_IFREG | (mode & 0o7777), "f")
        return pyfuse3.FileInfo(fh=ino), self.attrs(ino)

    async def mknod(self, parent, name, mode, rdev, ctx):
        self.check("mknod %d %r" % (parent, name))
        if not stat.S_ISREG(mode):
            raise pyfuse3.FUSEError(errno.EPERM)
        return self.attrs(self.add(parent, name, mode, "f"))

    async def unlink(self, parent, name, ctx):
        self.check("unlink %d %r" % (parent, name))
        ino = self.child(parent, name)
        self.record(("unlink", parent, name), [parent, ino])

    async def rmdir(self, parent, name, ctx):
        self.check("rmdir %d %r" % (parent, name))
        ino = self.child(parent, name)
        if self.live.entries.get(ino):
            raise pyfuse3.FUSEError(errno.ENOTEMPTY)
        self.record(("unlink", parent, name), [parent, ino])

    async def rename(self, p1, n1, p2, n2, flags, ctx):
        self.check("rename %d %r -> %d %r flags=%d" % (p1, n1, p2, n2, flags))
        ino = self.child(p1, n1)
        old = self.live.entries.get(p2, {}).get(n2)
        if flags & pyfuse3.RENAME_EXCHANGE:
            raise pyfuse3.FUSEError(errno.EINVAL)
        if old is not None and flags & pyfuse3.RENAME_NOREPLACE:
            raise pyfuse3.FUSEError(errno.EEXIST)
        if old is not None and self.live.nodes[old].kind == "d" and self.live.entries.get(old):
            raise pyfuse3.FUSEError(errno.ENOTEMPTY)
        touched = [p1, p2, ino] + ([old] if old is not None else [])
        self.record(("rename", p1, n1, p2, n2), touched)

    async def link(self, inode, parent, name, ctx):
        self.check("link %d %d %r" % (inode, parent, name))
        raise pyfuse3.FUSEError(errno.EPERM)

    async def open(self, inode, flags, ctx):
        self.check("open %d flags=%o" % (inode, flags))
        if flags & os.O_TRUNC:
            content = self.data.setdefault(inode, bytearray())
            del content[:]
            self.unsynced.setdefault(inode, []).append(("size", 0))
            self.record(("attr", inode, "size", 0), [inode])
        return pyfuse3.FileInfo(fh=inode)

    async def read(self, fh, off, size):
        self.check("read %d %d %d" % (fh, off, size))
        return bytes(self.data.get(fh, b"")[off:off + size])

    async def write(self, fh, off, buf):
        self.check("write %d %d %d" % (fh, off, len(buf)))
        content = self.data.setdefault(fh, bytearray())
        if len(content) < off:
            content.extend(bytes(off - len(content)))
        content[off:off + len(buf)] = buf
        if self.args.model == "torn":
            self.unsynced.setdefault(fh, []).append((off, bytes(buf)))
        node = self.live.nodes[fh]
        if len(content) > node.size:
            self.record(("attr", fh, "size", len(content)), [fh])
        else:
            self.changed([fh])
        return len(buf)

    async def flush(self, fh):
        self.check("flush %d" % fh)

    async def release(self, fh):
        if self.logf and not self.cut:
            self.trace("release %d" % fh)

    async def fsync(self, fh, datasync):
        self.check("fsync %d" % fh)
        self.synced[fh] = bytes(self.data.get(fh, b""))
        self.unsynced[fh] = []
        self.make_durable(fh)

    async def forget(self, inode_list):
        pass


async def poller(fs):
    """Answers the control folder when no request comes."""
    while not fs.cut:
        fs.poll_control()
        await trio.sleep(0.01)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("store")
    parser.add_argument("mountpoint")
    parser.add_argument("control")
    parser.add_argument("--model", choices=["ordered", "zeros", "torn"], default="ordered")
    parser.add_argument("--cut-after", type=int, default=0)
    parser.add_argument("--cut-from", type=os.fsencode)
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--log")
    parser.add_argument("--size", type=int, default=1 << 30)
    args = parser.parse_args()
    fs = PowerCutFS(args)
    options = set(pyfuse3.default_options)
    options.add("fsname=powercutfs")
    options.discard("default_permissions")
    pyfuse3.init(fs, args.mountpoint, options)
    open(os.path.join(args.control, "ready"), "w").close()

    async def run():
        async with trio.open_nursery() as nursery:
            nursery.start_soon(poller, fs)
            await pyfuse3.main()
            nursery.cancel_scope.cancel()

    try:
        trio.run(run)
    finally:
        pyfuse3.close(unmount=False)


if __name__ == "__main__":
    sys.exit(main())
