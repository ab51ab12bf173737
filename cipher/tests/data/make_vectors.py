#!/usr/bin/python3
"""Reference vectors for the session cipher, worked out with a bit-string DES written directly
from the FIPS 46-3 tables (independent of the C++ code).

usage: make_vectors.py check     compare the standard schedule with `openssl enc -des-ecb`
       make_vectors.py vectors   print the vectors file (session_vectors.txt)

Each vector line: <kind> <key or password> <plaintext hex> <ciphertext hex>, followed for each key
by 16 "round" lines with the 48-bit round keys as bit strings."""
import hashlib, os, subprocess, sys

IP = [58,50,42,34,26,18,10,2,60,52,44,36,28,20,12,4,62,54,46,38,30,22,14,6,64,56,48,40,32,24,16,8,
      57,49,41,33,25,17,9,1,59,51,43,35,27,19,11,3,61,53,45,37,29,21,13,5,63,55,47,39,31,23,15,7]
FP = [IP.index(i) + 1 for i in range(1, 65)]
E = [32,1,2,3,4,5,4,5,6,7,8,9,8,9,10,11,12,13,12,13,14,15,16,17,
     16,17,18,19,20,21,20,21,22,23,24,25,24,25,26,27,28,29,28,29,30,31,32,1]
P = [16,7,20,21,29,12,28,17,1,15,23,26,5,18,31,10,2,8,24,14,32,27,3,9,19,13,30,6,22,11,4,25]
PC1 = [57,49,41,33,25,17,9,1,58,50,42,34,26,18,10,2,59,51,43,35,27,19,11,3,60,52,44,36,
       63,55,47,39,31,23,15,7,62,54,46,38,30,22,14,6,61,53,45,37,29,21,13,5,28,20,12,4]
PC2 = [14,17,11,24,1,5,3,28,15,6,21,10,23,19,12,4,26,8,16,7,27,20,13,2,
       41,52,31,37,47,55,30,40,51,45,33,48,44,49,39,56,34,53,46,42,50,36,29,32]
SHIFTS = [1,1,2,2,2,2,2,2,1,2,2,2,2,2,2,1]
S = [
 [[14,4,13,1,2,15,11,8,3,10,6,12,5,9,0,7],[0,15,7,4,14,2,13,1,10,6,12,11,9,5,3,8],
  [4,1,14,8,13,6,2,11,15,12,9,7,3,10,5,0],[15,12,8,2,4,9,1,7,5,11,3,14,10,0,6,13]],
 [[15,1,8,14,6,11,3,4,9,7,2,13,12,0,5,10],[3,13,4,7,15,2,8,14,12,0,1,10,6,9,11,5],
  [0,14,7,11,10,4,13,1,5,8,12,6,9,3,2,15],[13,8,10,1,3,15,4,2,11,6,7,12,0,5,14,9]],
 [[10,0,9,14,6,3,15,5,1,13,12,7,11,4,2,8],[13,7,0,9,3,4,6,10,2,8,5,14,12,11,15,1],
  [13,6,4,9,8,15,3,0,11,1,2,12,5,10,14,7],[1,10,13,0,6,9,8,7,4,15,14,3,11,5,2,12]],
 [[7,13,14,3,0,6,9,10,1,2,8,5,11,12,4,15],[13,8,11,5,6,15,0,3,4,7,2,12,1,10,14,9],
  [10,6,9,0,12,11,7,13,15,1,3,14,5,2,8,4],[3,15,0,6,10,1,13,8,9,4,5,11,12,7,2,14]],
 [[2,12,4,1,7,10,11,6,8,5,3,15,13,0,14,9],[14,11,2,12,4,7,13,1,5,0,15,10,3,9,8,6],
  [4,2,1,11,10,13,7,8,15,9,12,5,6,3,0,14],[11,8,12,7,1,14,2,13,6,15,0,9,10,4,5,3]],
 [[12,1,10,15,9,2,6,8,0,13,3,4,14,7,5,11],[10,15,4,2,7,12,9,5,6,1,13,14,0,11,3,8],
  [9,14,15,5,2,8,12,3,7,0,4,10,1,13,11,6],[4,3,2,12,9,5,15,10,11,14,1,7,6,0,8,13]],
 [[4,11,2,14,15,0,8,13,3,12,9,7,5,10,6,1],[13,0,11,7,4,9,1,10,14,3,5,12,2,15,8,6],
  [1,4,11,13,12,3,7,14,10,15,6,8,0,5,9,2],[6,11,13,8,1,4,10,7,9,5,0,15,14,2,3,12]],
 [[13,2,8,4,6,15,11,1,10,9,3,14,5,0,12,7],[1,15,13,8,10,3,7,4,12,5,6,11,0,14,9,2],
  [7,11,4,1,9,12,14,2,0,6,10,13,15,3,5,8],[2,1,14,7,4,10,8,13,15,12,9,0,3,5,6,11]]]

def bits(data):           # bytes -> "0101..." with bit 1 first
    return "".join(format(b, "08b") for b in data)
def unbits(s):
    return bytes(int(s[i:i + 8], 2) for i in range(0, len(s), 8))
def perm(s, table):
    return "".join(s[t - 1] for t in table)
def xor(a, b):
    return "".join("1" if x != y else "0" for x, y in zip(a, b))

def round_keys(key, altered):
    cd = perm(bits(key), PC1)
    c, d = cd[:28], cd[28:]
    keys = []
    for n in SHIFTS:
        c, d = c[n:] + c[:n], d[n:] + d[:n]
        reg = c + d
        k = list(perm(reg, PC2))
        if altered:
            k[13 - 1] = "0"
            k[4 - 1] = "1" if reg[24 - 1] == "1" or reg[19 - 1] == "1" else "0"
        keys.append("".join(k))
    return keys

def f(r, k):
    x = xor(perm(r, E), k)
    out = ""
    for i in range(8):
        g = x[6 * i:6 * i + 6]
        out += format(S[i][int(g[0] + g[5], 2)][int(g[1:5], 2)], "04b")
    return perm(out, P)

def des(block, keys):
    x = perm(bits(block), IP)
    l, r = x[:32], x[32:]
    for k in keys:
        l, r = r, xor(l, f(r, k))
    return unbits(perm(r + l, FP))

def check():
    for i in range(40):
        key, block = os.urandom(8), os.urandom(8)
        ours = des(block, round_keys(key, False))
        ref = subprocess.run(["openssl", "enc", "-des-ecb", "-provider", "legacy", "-provider",
                              "default", "-nopad", "-K", key.hex()], input=block,
                             capture_output=True, check=True).stdout
        assert ours == ref, (key.hex(), block.hex(), ours.hex(), ref.hex())
    print("standard schedule agrees with openssl on 40 random blocks")

def vectors():
    cases = [("key", bytes.fromhex("133457799BBCDFF1"), bytes.fromhex("0123456789ABCDEF")),
             ("key", bytes.fromhex("0123456789ABCDEF"), b"Now is t"),
             ("key", bytes.fromhex("FFFFFFFFFFFFFFFF"), bytes(8)),
             ("password", b"s3cret", b"13800138"),
             ("password", b"13900000000", bytes.fromhex("0011223344556677")),
             ("password", b"", bytes.fromhex("FEDCBA9876543210"))]
    for kind, k, plain in cases:
        key = hashlib.md5(k).digest()[:8] if kind == "password" else k
        label = (k.decode() or "-") if kind == "password" else k.hex()
        keys = round_keys(key, True)
        print(kind, label, plain.hex(), des(plain, keys).hex())
        for rk in keys:
            print("round", rk)

if __name__ == "__main__":
    {"check": check, "vectors": vectors}[sys.argv[1]]()
