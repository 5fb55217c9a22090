"""--keep-metadata from the command line: a recorder-like file with bext,
iXML, PEAK, cue, LIST/INFO, levl, an unknown chunk and one with a
non-printable id, split and joined back; every rule checked by parsing the
outputs (iXML with a real XML parser), libsndfile and ffprobe reading them,
start times that differ, an iXML that does not parse, float files written
by libsndfile, and the dry run's listing. The programs' folder comes from
STEREOTOOLS_BIN."""

import json
import shutil
import struct
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ElementTree
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "pty"))
import termdrive as td  # noqa: E402

RUN_TIMEOUT = 60
RATE = 48000
BITS = 24
# 01:00:00 at 48 kHz, and half a second more.
START = 3600 * RATE
LATER_START = START + RATE // 2


def chunk(chunk_id, body):
    return chunk_id + struct.pack("<I", len(body)) + body + (b"\0" if len(body) % 2 else b"")


def chunks_of(wave):
    """The (id, body) of every chunk of `wave`, in order."""
    found = []
    offset = 12
    while offset + 8 <= len(wave):
        chunk_id, size = wave[offset:offset + 4], struct.unpack("<I", wave[offset + 4:offset + 8])[0]
        found.append((chunk_id, wave[offset + 8:offset + 8 + size]))
        offset += 8 + size + (size & 1)
    return found


def body_of(wave, chunk_id):
    bodies = [body for found_id, body in chunks_of(wave) if found_id == chunk_id]
    return bodies[0] if bodies else None


def bext(description, time_reference, history, version=2):
    fixed = bytearray(602)
    fixed[0:len(description)] = description
    fixed[256:256 + 10] = b"Recorder 1"
    fixed[320:338] = b"2026-12-0910:00:00"
    fixed[338:346] = struct.pack("<Q", time_reference)
    fixed[346:348] = struct.pack("<H", version)
    fixed[348:348 + 64] = bytes(range(64))
    fixed[412:422] = struct.pack("<5h", -2300, 700, -100, -1500, -1800)
    return bytes(fixed) + history


def bext_fields(body):
    """The fields a check looks at: description lines, time, loudness, history."""
    description = body[:256].rstrip(b"\0").decode()
    return {
        "tracks": [line for line in description.splitlines() if line.startswith("sTRK")],
        "other": [line for line in description.splitlines() if not line.startswith("sTRK")],
        "originator": body[256:288].rstrip(b"\0"),
        "time_reference": struct.unpack("<Q", body[338:346])[0],
        "umid": body[348:412],
        "loudness": struct.unpack("<5h", body[412:422]),
        "history": body[602:].rstrip(b"\0").decode(),
    }


IXML = b"""<?xml version="1.0" encoding="UTF-8"?>
<BWFXML><IXML_VERSION>1.61</IXML_VERSION><PROJECT>Harbour</PROJECT><SCENE>12A</SCENE>
<FILE_UID>INPUTUID0001</FILE_UID>
<SPEED><TIMECODE_RATE>25/1</TIMECODE_RATE></SPEED>
<TRACK_LIST><TRACK_COUNT>2</TRACK_COUNT>
<TRACK><CHANNEL_INDEX>3</CHANNEL_INDEX><INTERLEAVE_INDEX>1</INTERLEAVE_INDEX><NAME>Boom</NAME><FUNCTION>M</FUNCTION></TRACK>
<TRACK><CHANNEL_INDEX>5</CHANNEL_INDEX><INTERLEAVE_INDEX>2</INTERLEAVE_INDEX><NAME>Lav1</NAME><FUNCTION>L</FUNCTION></TRACK>
</TRACK_LIST>
<FILE_SET><TOTAL_FILES>1</TOTAL_FILES><FAMILY_UID>FAMILYUID0001</FAMILY_UID><FILE_SET_INDEX>1</FILE_SET_INDEX></FILE_SET>
</BWFXML>"""

PEAK = struct.pack("<II", 1, 1234) + struct.pack("<fI", 0.5, 10) + struct.pack("<fI", 0.25, 20)
CUE = struct.pack("<I", 1) + struct.pack("<II4sIII", 1, 100, b"data", 0, 0, 100)
INFO = b"INFOINAM" + struct.pack("<I", 6) + b"take 1"
ODD_ID = b"\x01\x02\x03\x04"


def recorder_file(samples, ixml=IXML, time_reference=START):
    """A stereo 24-bit file as a recorder writes it, with every kind of chunk."""
    before = (chunk(b"bext", bext(b"sTRK1=Boom\r\nsTRK2=Lav1\r\nzSPEED=25ND\r\n", time_reference,
                                  b"A=PCM,F=48000,W=24,M=stereo,T=Recorder\r\n"))
              + chunk(b"iXML", ixml) + chunk(ODD_ID, b"odd") + chunk(b"xyzw", b"unknown!")
              + chunk(b"levl", b"\0" * 20))
    fmt = chunk(b"fmt ", struct.pack("<HHIIHH", 1, 2, RATE, RATE * 6, 6, BITS))
    after = chunk(b"PEAK", PEAK) + chunk(b"cue ", CUE) + chunk(b"LIST", INFO)
    body = b"WAVE" + before + fmt + chunk(b"data", samples) + after
    return b"RIFF" + struct.pack("<I", len(body)) + body


POLY_TRACKS = ["Boom", "Lav1", "Lav2", "Plant"]


def poly_recorder_file(samples):
    """A 4-channel 24-bit extensible file as a field recorder writes it: bext
    with a start time and sTRKn= lines, iXML with a track list and file set,
    and a PEAK entry per channel."""
    channels = len(POLY_TRACKS)
    strk = "".join(f"sTRK{k}={name}\r\n" for k, name in enumerate(POLY_TRACKS, 1)).encode()
    tracks = "".join(f"<TRACK><CHANNEL_INDEX>{k}</CHANNEL_INDEX><INTERLEAVE_INDEX>{k}</INTERLEAVE_INDEX>"
                     f"<NAME>{name}</NAME></TRACK>" for k, name in enumerate(POLY_TRACKS, 1))
    ixml = (f'<?xml version="1.0" encoding="UTF-8"?><BWFXML><FILE_UID>POLYUID0001</FILE_UID>'
            f"<TRACK_LIST><TRACK_COUNT>{channels}</TRACK_COUNT>{tracks}</TRACK_LIST>"
            "<FILE_SET><TOTAL_FILES>1</TOTAL_FILES><FAMILY_UID>POLYFAMILY01</FAMILY_UID>"
            "<FILE_SET_INDEX>1</FILE_SET_INDEX></FILE_SET></BWFXML>").encode()
    peak = struct.pack("<II", 1, 99) + b"".join(struct.pack("<fI", k / 8, k) for k in range(1, channels + 1))
    guid = struct.pack("<H", 1) + bytes.fromhex("000000001000800000aa00389b71")
    fmt = struct.pack("<HHIIHHHHI", 0xFFFE, channels, RATE, RATE * 3 * channels, 3 * channels, BITS, 22, BITS, 0)
    body = (b"WAVE" + chunk(b"bext", bext(strk, START, b"A=PCM,F=48000,W=24,M=multichannel,T=Recorder\r\n"))
            + chunk(b"iXML", ixml) + chunk(b"fmt ", fmt + guid) + chunk(b"data", samples) + chunk(b"PEAK", peak))
    return b"RIFF" + struct.pack("<I", len(body)) + body


def ixml_root(body):
    return ElementTree.fromstring(body.rstrip(b"\0"))


class Metadata(td.FolderTestCase):
    folder_prefix = "metadata-test-"

    def run_tool(self, name, *arguments):
        return td.run_without_terminal([td.program(name), *arguments], cwd=self.folder, timeout=RUN_TIMEOUT)

    def read(self, name):
        return (self.folder / name).read_bytes()

    def version(self, program):
        return self.run_tool(program, "--version").stdout.split()[-1]

    def assert_libsndfile_opens(self, name):
        if shutil.which("sndfile-info") is None:
            self.skipTest("sndfile-info is not installed")
        result = subprocess.run(["sndfile-info", str(self.folder / name)], capture_output=True, text=True,
                                timeout=RUN_TIMEOUT)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertNotIn("Error", result.stdout, name)

    def split_recorder_file(self):
        samples = bytes((i * 7) & 0xFF for i in range(6 * 100))
        self.write("take.wav", recorder_file(samples))
        result = self.run_tool("stereorip", "-m", "take.wav")
        self.assertEqual(result.returncode, 0, result.stderr)
        return samples, result

    def test_split_makes_each_chunk_right_for_its_channel(self):
        samples, result = self.split_recorder_file()
        self.assertIn("'levl' left out", result.stdout)
        self.assertIn("'0x01020304' left out", result.stdout)
        version = self.version("stereorip")
        outputs = {"left": ("Boom", "3", "M", 1, struct.pack("<fI", 0.5, 10)),
                   "right": ("Lav1", "5", "L", 2, struct.pack("<fI", 0.25, 20))}
        uids = set()
        for side, (name, channel_index, function, number, peak) in outputs.items():
            with self.subTest(side):
                wave = self.read(f"take {side} channel.wav")
                ids = [found_id for found_id, _ in chunks_of(wave)]
                # levl describes the mix and readers stop at an odd id: both
                # gone. The rest keeps its order and place.
                self.assertEqual(ids, [b"bext", b"iXML", b"xyzw", b"fmt ", b"data", b"PEAK", b"cue ",
                                       b"LIST"])
                self.assertEqual(body_of(wave, b"data"), b"".join(
                    samples[i + (number - 1) * 3:i + number * 3] for i in range(0, len(samples), 6)))
                for kept, body in ((b"xyzw", b"unknown!"), (b"cue ", CUE), (b"LIST", INFO)):
                    self.assertEqual(body_of(wave, kept), body)

                fields = bext_fields(body_of(wave, b"bext"))
                self.assertEqual(fields["tracks"], [f"sTRK1={name}"])
                self.assertEqual(fields["other"], ["zSPEED=25ND"])
                self.assertEqual(fields["originator"], b"Recorder 1")
                self.assertEqual(fields["time_reference"], START)
                self.assertEqual(fields["umid"], bytes(range(64)))
                self.assertEqual(fields["loudness"], (0x7FFF,) * 5)
                self.assertEqual(fields["history"],
                                 "A=PCM,F=48000,W=24,M=stereo,T=Recorder\r\n"
                                 f"A=PCM,F=48000,W=24,M=mono,T=stereorip {version}; channel {number} of take.wav\r\n")

                root = ixml_root(body_of(wave, b"iXML"))
                self.assertEqual(root.findtext("PROJECT"), "Harbour")
                self.assertEqual(root.findtext("SPEED/TIMECODE_RATE"), "25/1")
                tracks = root.findall("TRACK_LIST/TRACK")
                self.assertEqual(root.findtext("TRACK_LIST/TRACK_COUNT"), "1")
                self.assertEqual(len(tracks), 1)
                self.assertEqual([tracks[0].findtext(tag) for tag in
                                  ("CHANNEL_INDEX", "INTERLEAVE_INDEX", "NAME", "FUNCTION")],
                                 [channel_index, "1", name, function])
                self.assertEqual(root.findtext("FILE_SET/TOTAL_FILES"), "2")
                self.assertEqual(root.findtext("FILE_SET/FILE_SET_INDEX"), str(number))
                self.assertEqual(root.findtext("FILE_SET/FAMILY_UID"), "FAMILYUID0001")
                self.assertEqual(root.findtext("HISTORY/PARENT_FILENAME"), "take.wav")
                self.assertEqual(root.findtext("HISTORY/PARENT_UID"), "INPUTUID0001")
                uids.add(root.findtext("FILE_UID"))

                self.assertEqual(body_of(wave, b"PEAK"), PEAK[:8] + peak)
                self.assert_libsndfile_opens(f"take {side} channel.wav")
        self.assertEqual(len(uids - {"INPUTUID0001", None}), 2, "each output has a new FILE_UID of its own")

    def test_poly_recording_splits_per_track_and_joins_back(self):
        channels = len(POLY_TRACKS)
        samples = bytes((i * 13) & 0xFF for i in range(3 * channels * 50))
        self.write("T01.wav", poly_recorder_file(samples))
        result = self.run_tool("stereorip", "-m", "T01.wav")
        self.assertEqual(result.returncode, 0, result.stderr)
        monos = [f"T01 channel {k}.wav" for k in range(1, channels + 1)]
        for k, (name, mono) in enumerate(zip(POLY_TRACKS, monos), 1):
            with self.subTest(mono):
                wave = self.read(mono)
                self.assertEqual(body_of(wave, b"data"), b"".join(
                    samples[i + (k - 1) * 3:i + k * 3] for i in range(0, len(samples), 3 * channels)))
                fields = bext_fields(body_of(wave, b"bext"))
                self.assertEqual((fields["tracks"], fields["time_reference"]), ([f"sTRK1={name}"], START))
                root = ixml_root(body_of(wave, b"iXML"))
                self.assertEqual([(t.findtext("NAME"), t.findtext("CHANNEL_INDEX"), t.findtext("INTERLEAVE_INDEX"))
                                  for t in root.findall("TRACK_LIST/TRACK")], [(name, str(k), "1")])
                self.assertEqual((root.findtext("FILE_SET/TOTAL_FILES"), root.findtext("FILE_SET/FILE_SET_INDEX"),
                                  root.findtext("FILE_SET/FAMILY_UID")), (str(channels), str(k), "POLYFAMILY01"))
                self.assertEqual(body_of(wave, b"PEAK"), struct.pack("<II", 1, 99) + struct.pack("<fI", k / 8, k))
                self.assert_libsndfile_opens(mono)

        result = self.run_tool("stereoknit", "-m", *monos, "joined.wav")
        self.assertEqual(result.returncode, 0, result.stderr)
        wave = self.read("joined.wav")
        self.assertEqual(body_of(wave, b"data"), samples)
        self.assertEqual(struct.unpack("<H", body_of(wave, b"fmt ")[2:4])[0], channels)
        root = ixml_root(body_of(wave, b"iXML"))
        self.assertEqual(root.findtext("TRACK_LIST/TRACK_COUNT"), str(channels))
        self.assertEqual([t.findtext("NAME") for t in root.findall("TRACK_LIST/TRACK")], POLY_TRACKS)
        fields = bext_fields(body_of(wave, b"bext"))
        self.assertEqual(fields["tracks"], [f"sTRK{k}={name}" for k, name in enumerate(POLY_TRACKS, 1)])
        self.assertEqual(fields["time_reference"], START)
        self.assertEqual(body_of(wave, b"PEAK"), poly_recorder_file(samples)[-8 - 8 * channels:])
        self.assert_libsndfile_opens("joined.wav")

    def test_ffprobe_reads_the_time_reference(self):
        if shutil.which("ffprobe") is None:
            self.skipTest("ffprobe is not installed")
        self.split_recorder_file()
        result = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format_tags", "-of", "json",
                                 str(self.folder / "take left channel.wav")],
                                capture_output=True, text=True, timeout=RUN_TIMEOUT)
        self.assertEqual(result.returncode, 0, result.stderr)
        tags = json.loads(result.stdout)["format"]["tags"]
        self.assertEqual(tags["time_reference"], str(START))

    def test_join_lists_every_track_again(self):
        self.split_recorder_file()
        result = self.run_tool("stereoknit", "-m", "take left channel.wav", "take right channel.wav", "joined.wav")
        self.assertEqual(result.returncode, 0, result.stderr)
        wave = self.read("joined.wav")
        root = ixml_root(body_of(wave, b"iXML"))
        self.assertEqual(root.findtext("TRACK_LIST/TRACK_COUNT"), "2")
        self.assertEqual([(track.findtext("NAME"), track.findtext("INTERLEAVE_INDEX"), track.findtext("CHANNEL_INDEX"))
                          for track in root.findall("TRACK_LIST/TRACK")], [("Boom", "1", "3"), ("Lav1", "2", "5")])
        self.assertEqual(root.findtext("FILE_SET/TOTAL_FILES"), "1")
        self.assertEqual(root.findtext("FILE_SET/FAMILY_UID"), "FAMILYUID0001")
        self.assertEqual(root.findtext("HISTORY/PARENT_FILENAME"), "take left channel.wav")
        fields = bext_fields(body_of(wave, b"bext"))
        self.assertEqual(fields["tracks"], ["sTRK1=Boom", "sTRK2=Lav1"])
        self.assertEqual(fields["time_reference"], START)
        self.assertTrue(fields["history"].endswith(
            f"T=stereoknit {self.version('stereoknit')}; joined from take left channel.wav, "
            "take right channel.wav\r\n"), fields["history"])
        self.assertEqual(body_of(wave, b"PEAK"), PEAK)
        self.assert_libsndfile_opens("joined.wav")

    def test_join_refuses_start_times_that_differ_unless_told(self):
        self.split_recorder_file()
        right = bytearray(self.read("take right channel.wav"))
        at = right.index(b"bext") + 8 + 338
        right[at:at + 8] = struct.pack("<Q", LATER_START)
        self.write("late.wav", bytes(right))
        result = self.run_tool("stereoknit", "-m", "take left channel.wav", "late.wav", "joined.wav")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.strip(),
                         "stereoknit: take left channel.wav: Cannot read 'late.wav': it starts at 01:00:00 and "
                         "24000 frames, and 'take left channel.wav' at 01:00:00 and 0 frames "
                         "(--any-start joins them all the same)")
        self.assertFalse((self.folder / "joined.wav").exists())
        dry = self.run_tool("stereoknit", "-n", "-m", "take left channel.wav", "late.wav", "joined.wav")
        self.assertEqual((dry.returncode, dry.stderr), (result.returncode, result.stderr))
        # Without -m no metadata is carried, so the times do not matter.
        self.assertEqual(self.run_tool("stereoknit", "take left channel.wav", "late.wav", "plain.wav").returncode, 0)
        result = self.run_tool("stereoknit", "-m", "--any-start", "take left channel.wav", "late.wav", "joined.wav")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(bext_fields(body_of(self.read("joined.wav"), b"bext"))["time_reference"], START)

    def test_ixml_that_does_not_parse_is_carried_unchanged(self):
        broken = b"<BWFXML><TRACK_LIST><TRACK>"
        self.write("take.wav", recorder_file(bytes(600), ixml=broken))
        result = self.run_tool("stereorip", "-m", "take.wav")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("'iXML' carried unchanged (it does not parse as XML)", result.stdout)
        self.assertEqual(body_of(self.read("take left channel.wav"), b"iXML"), broken)

    def test_float_files_written_by_libsndfile_split_and_join(self):
        if shutil.which("sndfile-convert") is None:
            self.skipTest("sndfile-convert is not installed")
        self.write("pcm.wav", td.wave_bytes(2, 44100, 16, bytes((i * 5) & 0xFF for i in range(4000))))
        subprocess.run(["sndfile-convert", "-float32", "pcm.wav", "float.wav"], cwd=self.folder, check=True,
                       capture_output=True, timeout=RUN_TIMEOUT)
        self.assertIsNotNone(body_of(self.read("float.wav"), b"PEAK"), "libsndfile writes a PEAK chunk")
        result = self.run_tool("stereorip", "-m", "float.wav")
        self.assertEqual(result.returncode, 0, result.stderr)
        for side in ("left", "right"):
            self.assert_libsndfile_opens(f"float {side} channel.wav")
        result = self.run_tool("stereoknit", "-m", "float left channel.wav", "float right channel.wav", "again.wav")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assert_libsndfile_opens("again.wav")
        self.assertEqual(body_of(self.read("again.wav"), b"PEAK")[8:], body_of(self.read("float.wav"), b"PEAK")[8:])

    def test_dry_run_lists_what_each_output_carries(self):
        self.write("take.wav", recorder_file(bytes(600)))
        before = sorted(path.name for path in self.folder.iterdir())
        result = self.run_tool("stereorip", "-n", "-m", "take.wav")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(sorted(path.name for path in self.folder.iterdir()), before)
        lines = result.stdout.splitlines()
        carried = "carries 'xyzw', 'cue ', 'LIST'; rewrites 'bext', 'iXML', 'PEAK'; drops '0x01020304', 'levl'"
        self.assertIn(f"stereorip: take left channel.wav: tracks 'Boom'; starts at 01:00:00 and 0 frames; {carried}",
                      lines)
        self.assertIn(f"stereorip: take right channel.wav: tracks 'Lav1'; starts at 01:00:00 and 0 frames; {carried}",
                      lines)

    def test_outputs_are_named_after_their_tracks(self):
        samples = bytes((i * 5) & 0xFF for i in range(6 * 50))
        slashed = IXML.replace(b"<NAME>Lav1</NAME>", b"<NAME>Lav/1</NAME>")
        self.write("take.wav", recorder_file(samples, ixml=slashed))
        # Names come from the file without -m, and a dry run already shows them.
        dry = self.run_tool("stereorip", "-n", "--names", "{name}_{track}.wav", "take.wav")
        self.assertEqual(dry.returncode, 0, dry.stderr)
        self.assertIn("take_Boom.wav", dry.stdout)
        self.assertIn("take_Lav_1.wav", dry.stdout)
        self.assertFalse((self.folder / "take_Boom.wav").exists())
        result = self.run_tool("stereorip", "-q", "-m", "--names", "{name}_{track}.wav", "take.wav")
        self.assertEqual(result.returncode, 0, result.stderr)
        for name, offset in (("take_Boom.wav", 0), ("take_Lav_1.wav", 3)):
            expected = b"".join(samples[at + offset:at + offset + 3] for at in range(0, len(samples), 6))
            self.assertEqual(body_of(self.read(name), b"data"), expected, name)
        # The file keeps the track's own name; only the file name is made safe.
        self.assertEqual(ixml_root(body_of(self.read("take_Lav_1.wav"), b"iXML")).findtext("TRACK_LIST/TRACK/NAME"),
                         "Lav/1")

    def test_tracks_of_one_name_get_their_channel_numbers(self):
        twice = IXML.replace(b"<NAME>Boom</NAME>", b"<NAME>Lav1</NAME>")
        self.write("take.wav", recorder_file(bytes(600), ixml=twice))
        result = self.run_tool("stereorip", "-q", "--names", "{track}.wav", "take.wav")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue((self.folder / "Lav1_1.wav").is_file())
        self.assertTrue((self.folder / "Lav1_2.wav").is_file())
        self.assertFalse((self.folder / "Lav1.wav").exists())
        # The final names are the ones claimed: an existing one is refused before anything is written.
        (self.folder / "Lav1_1.wav").unlink()
        again = self.run_tool("stereorip", "-q", "--names", "{track}.wav", "take.wav")
        self.assertEqual(again.returncode, 1)
        self.assertIn("Lav1_2.wav", again.stderr)
        self.assertFalse((self.folder / "Lav1_1.wav").exists())

    def test_help_names_the_options(self):
        for program, options in (("stereorip", ["-m, --keep-metadata", "{track}"]),
                                 ("stereoknit", ["-m, --keep-metadata", "--any-start"])):
            usage = self.run_tool(program, "--help").stdout
            for option in options:
                self.assertIn(option, usage)


if __name__ == "__main__":
    unittest.main(verbosity=2)
