#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into corpus/<target>/.

Each seed is a small, realistic script in the input format that the target's
source file describes: typical field texts, a whole smooth dialogue with the
adaptor's prompts, and a few inputs with the usual typing mistakes. Run it
again after changing an input format; the files are checked in.
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# --- address rules: eighteen field texts, '|' between them ---
def fields(*texts):
    return "|".join(texts).encode("utf-8")


write("addressrules", "ok_family1", fields("00", "20", "4A", "1b", "2C", "3d", "192", "168", "1", "254",
                                          "255", "255", "255", "0", "0", "0", "0", "0"))
write("addressrules", "ok_family2_blanks", fields("00", "80", "a3", " 1f", "63", "dd", " 7", "0", "0", "5",
                                                  "255", " 255", "0", "0", "201", "23", "12", "-1"))
write("addressrules", "error_each_check", fields("00", "20", "4b", "g1", "1:", "3d", "192", "168", "1", "255",
                                                 "255", "256", "", "0", "0", "0", "0", "255"))
write("addressrules", "notations", fields("0", "00", "0a", "aa", "AA", "ff", "1.5", ".5", "5.", "-0",
                                          "+7", " 7 ", "7 ", "x", "1e3", "0x1f", "\u0660", "\u0130"))
write("addressrules", "empty", b"")

# --- datagram: MAC octets five and six, four IP octets ---
write("builders", "ok_example", fields("2C", "3d", "192", "168", "1", "20"))
write("builders", "ok_leading_zero", fields("00", "ff", "10", "0", "07", "254"))
write("builders", "ok_blanks", fields(" 1", "2 ", " 1", "2", "3", "4 "))
write("builders", "error_ip", fields("2c", "3d", "", "256", "1.5", "-1"))
write("builders", "error_mac", fields("zz", "100", "1", "2", "3", "4"))


# --- dialogues: option byte, then operations ---
def chunk(text):
    data = text.encode("latin-1")
    assert len(data) < 256
    return b"D" + bytes([len(data)]) + data


TICK = b"T"

command_line_prompts = ["Username> ", "Local_1> ", "Password> "] + ["Local_1>> "] * 8
smooth = b"".join(chunk("banner\r\n" + p) + TICK for p in command_line_prompts)
write("dialogues", "commandline_smooth", bytes([0x00]) + smooth)
write("dialogues", "commandline_smooth_sign_test", bytes([0x18]) + smooth)
write("dialogues", "commandline_dropped",
      bytes([0x00]) + chunk("Username> ") + TICK + b"C" + chunk("Local_1> ") + TICK + TICK + b"O" + TICK
      + b"E" + TICK + b"Z" + chunk("Invalid password\r\nLocal_1> ") + TICK * 11)


def menu_prompt(state):
    return {
        2: "1 Channel 1\r\n9 Save and exit\r\nYour choice ? ",
        4: "Set Gateway IP Address (N) ",
        5: "Netmask: Number of Bits for Host Part (0=default) (16) ",
        9: "Your choice ? ",
        6: "Your choice ? ",
    }.get(state, "(000) ")


menu_states = [0, 2, 3, 3, 3, 3, 4, 4, 4, 4, 4, 5, 8, 9, 10, 11, 11, 12] + [13] * 12 + [6, 7]
menu = b"".join((chunk(menu_prompt(s)) if s else b"") + TICK for s in menu_states)
write("dialogues", "menu_smooth", bytes([0x03]) + menu)
write("dialogues", "menu_connecting_first", bytes([0x21]) + TICK + b"S\x03" + menu)
write("dialogues", "menu_flood",
      bytes([0x05]) + TICK + chunk("\x00\xff\x80 Your choice ? ") + TICK + b"B\x3f" + TICK + b"B\x3f" + TICK
      + chunk("\r\n\x00") + TICK)


# --- entry fields: scenario byte, then lines ---
def script(scenario, *lines):
    return bytes([scenario]) + "\n".join(lines).encode("utf-8")


family2 = ["a00", "b80", "ca3", "d61", "e63", "fdd", "g10", "h0", "i0", "j5"]
family1 = ["a00", "b20", "c4A", "d1b", "e2C", "f3d", "g192", "h168", "i1", "j20", "o192", "p168", "q1", "r1"]
write("entryfields", "arp_route_connects", script(0b00000110, *family2))
write("entryfields", "broadcast_route", script(0b00000010, *family1))
write("entryfields", "address_exists", script(0b00000000, *family2))
write("entryfields", "edited_while_waiting", script(0b00000010, *family1, "=", "g", "g300", ">h", "h1.5"))
write("entryfields", "typing_mistakes",
      script(0b01001101, "a0", "a0x", "b21", "b8", "b80", "cA3", "d6", "dg", "g12.", "h1a", "i-12", "j007",
             "k256", "k25", "l", ">c", ">s", "o 12", "p+9", "q-", "r254"))

# --- the network helper's requests: one line each, as the front end writes them ---
write("helperrequest", "ok_echo", "echo 10.77.85.2")
write("helperrequest", "ok_arp_probe", "arp-probe 192.168.1.20")
write("helperrequest", "ok_neigh_add", "neigh-add 10.1.2.3 00:80:a3:61:63:dd")
write("helperrequest", "ok_neigh_del", "neigh-del 10.1.2.3")
write("helperrequest", "error_dashes", "neigh-add 10.1.2.3 00-80-a3-61-63-dd")
write("helperrequest", "error_leading_zero", "echo 010.1.2.3")
write("helperrequest", "error_mac_upper_case", "neigh-add 10.1.2.3 00:80:a3:6D:63:dd")
write("helperrequest", "ok_arp_sweep", "arp-sweep eth0 10.77.85.0/24")
write("helperrequest", "ok_arp_sweep_widest", "arp-sweep br-lan.2 10.77.80.0/20")
write("helperrequest", "error_sweep_not_network", "arp-sweep eth0 10.77.85.1/24")
write("helperrequest", "error_sweep_dotdot", "arp-sweep .. 10.77.85.0/24")
