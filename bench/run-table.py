"""The measurements and the table of bench/run: python3 run-table.py BUILD WORK.

WORK holds audio.raw (60 s, 44100 Hz stereo s16le) and the private sound server's
environment is already set. REPS (default 5) runs for the short rows, RECORD_REPS
(default 3) for the 60 s recordings, IDLE_S (default 20) seconds of idle.
"""
import json
import signal
import os
import re
import resource
import statistics
import subprocess
import sys
import tempfile
import time

build, work = sys.argv[1], sys.argv[2]
reps = int(os.environ.get("REPS", "5"))
record_reps = int(os.environ.get("RECORD_REPS", "3"))
idle_s = int(os.environ.get("IDLE_S", "20"))
audio = f"{work}/audio.raw"
seconds = 60.0
raw = ["-t", "raw", "-r", "44100", "-e", "signed-integer", "-b", "16", "-c", "2", "-L"]
rows = []
# The effects and codec benchmarks read this same audio.
os.environ["VOCARN_BENCH_AUDIO"] = audio


def log(text):
    print(text, file=sys.stderr, flush=True)


def spread(values):
    return statistics.median(values), min(values), max(values)


def row(name, unit, vocarn, anchor_name, anchor, goal):
    """goal: (">=" or "<=", limit, what): what is "ratio" or "value"."""
    rows.append((name, unit, spread(vocarn), anchor_name, spread(anchor) if anchor else None,
                 goal))


def gbench(program, extra=(), repetitions=None):
    """Each repetition's entries of a Google Benchmark program, by name."""
    count = reps if repetitions is None else repetitions
    out = subprocess.run([f"{build}/bench/{program}", f"--benchmark_repetitions={count}",
                          "--benchmark_format=json", *extra],
                         check=True, capture_output=True, text=True).stdout
    runs = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("run_type", "iteration") == "iteration":
            runs.setdefault(b["run_name"].removesuffix("/real_time"), []).append(b)
    return runs


def cpu_us(b):
    scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}[b["time_unit"]]
    return b["cpu_time"] * scale


def child_cpu(cmd, **kw):
    """Processor seconds (user + system) of one run of cmd and its children."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    out = subprocess.run(cmd, check=True, capture_output=True, text=True, **kw)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime), out


# Effects: times real time in processor time.
log("effects ...")
eq = []
for centre, gain in [(80, 3), (191, -2), (455, 4), (1084, -3), (2586, 2), (6165, -4),
                     (14700, 5)]:
    eq += ["equalizer", str(centre), "1.3o", str(gain)]
sox_fx = {
    "Amplifier": ["vol", "3dB"],
    "Echo": ["echo", "1", "1", "100", "0.4"],
    "PhaseShifter": ["phaser", "1", "1", "3", "0.5", "1", "-s"],
    "Equalizer": eq,
    "WholeChain": ["vol", "3dB", "echo", "1", "1", "100", "0.4",
                   "phaser", "1", "1", "3", "0.5", "1", "-s"] + eq,
}
fx_filter = ["--benchmark_filter=BM_(Amplifier|Echo|PhaseShifter|PhaseShifterDependencyFloor|"
             "Equalizer|WholeChain)$"]
fx = gbench("dsp/effects_bench", fx_filter)
# The same effects built without their vector paths: what a processor without AVX2 runs.
fx_plain = gbench("dsp/effects_bench_plain", fx_filter)
goals = {"Amplifier": 10, "Echo": 10, "PhaseShifter": None, "Equalizer": 2, "WholeChain": 1.5}
for name, soxargs in sox_fx.items():
    sox = [seconds / child_cpu(["sox", "-V1", *raw, audio, *raw, "/dev/null", *soxargs])[0]
           for _ in range(reps)]
    goal = (">=", goals[name], "ratio") if goals[name] else None
    row(f"effect {name}", "x real time", [b["realtime_x"] for b in fx["BM_" + name]], "sox", sox,
        goal)
    row(f"effect {name}, baseline path", "x real time",
        [b["realtime_x"] for b in fx_plain["BM_" + name]], "sox", sox, None)
floor = [b["ns_per_sample"] * 1e9 for b in fx["BM_PhaseShifterDependencyFloor"]]
phaser = [b["ns_per_sample"] * 1e9 for b in fx["BM_PhaseShifter"]]
row("PhaseShifter per sample", "ns/sample", phaser, "its serial floor", floor,
    ("<=", 1.25, "ratio"))

# Transform: processor time per call.
log("transform ...")
ft = gbench("dsp/fourier_bench")
row("clsFourier load+transform+513 magnitudes", "us", [cpu_us(b) for b in
    ft["BM_FourierLoadTransformMagnitudes"]], "FFTW same", [cpu_us(b) for b in
    ft["BM_FftwLoadTransformMagnitudes"]], None)
row("clsFourier transform alone", "us", [cpu_us(b) for b in ft["BM_FourierTransform"]],
    "FFTW transform", [cpu_us(b) for b in ft["BM_FftwTransform"]], ("<=", 3, "ratio"))

# Codecs: times real time in processor time. ffmpeg's -benchmark times start after its
# set-up; the audio is played five times over so that its run is long enough to time.
log("codecs ...")
formats = [
    ("PCM16", "-c:a pcm_s16le"),
    ("PCM8", "-c:a pcm_u8"),
    ("Float32", "-c:a pcm_f32le"),
    ("IMA_ADPCM", "-c:a adpcm_ima_wav -block_size 2048"),
    ("MS_ADPCM", "-c:a adpcm_ms -block_size 2048"),
    ("ALaw", "-c:a pcm_alaw"),
    ("uLaw", "-c:a pcm_mulaw"),
    ("GSM610_8000_mono", "-ar 8000 -ac 1 -c:a libgsm_ms"),
    ("MP3_128k", "-c:a libmp3lame -b:a 128k"),
]
loops = 5


def ffmpeg_speed(options, output):
    """Times real time of ffmpeg encoding the bench audio, by its own -benchmark times."""
    cmd = ["ffmpeg", "-nostdin", "-y", "-benchmark", "-stream_loop", str(loops - 1),
           "-f", "s16le", "-ar", "44100", "-ac", "2", "-i", audio, *options.split(), output]
    err = subprocess.run(cmd, check=True, capture_output=True, text=True).stderr
    m = re.search(r"utime=([\d.]+)s stime=([\d.]+)s", err)
    return seconds * loops / max(float(m.group(1)) + float(m.group(2)), 1e-3)


codecs = gbench("encoder/encoder_codec_bench", ["--benchmark_filter=EncoderRecording"])
for name, options in formats:
    anchor = [ffmpeg_speed(options, f"{work}/out.wav") for _ in range(reps)]
    vocarn = [seconds / (cpu_us(b) * 1e-6) for b in codecs["EncoderRecording/" + name]]
    row(f"codec {name}", "x real time", vocarn, "ffmpeg", anchor, (">=", 0.8, "ratio"))

# The compressed file types beside ffmpeg writing the same type with the same settings. The
# two take turns, one run each per repetition, so that a machine that speeds up or slows
# down meanwhile weighs on both alike.
types = [
    ("flac", "-c:a flac -compression_level 5"),
    ("opus", "-ar 48000 -c:a libopus -b:a 48k"),
    ("mp3", "-c:a libmp3lame -b:a 128k"),
]
for name, options in types:
    anchor, vocarn = [], []
    for _ in range(reps):
        anchor.append(ffmpeg_speed(options, f"{work}/out.{name}"))
        one = gbench("encoder/encoder_codec_bench", [f"--benchmark_filter=FileRecording/{name}"],
                     repetitions=1)
        vocarn.append(seconds / (cpu_us(one["FileRecording/" + name][0]) * 1e-6))
    row(f"file {name}", "x real time", vocarn, "ffmpeg", anchor, (">=", 0.8, "ratio"))

# Block path and display tick: processor time per call, no anchor.
log("block path, display tick ...")
block = gbench("app/app_bench")
row("block path, PCM, no effects", "us", [cpu_us(b) for b in block["BlockPath/0"]], "", None,
    ("<=", 100, "value"))
row("block path, PCM, all effects", "us", [cpu_us(b) for b in block["BlockPath/15"]], "", None,
    None)
tick = gbench("app/app_display_bench")
row("display tick (main window)", "us", [cpu_us(b) for b in tick["DisplayTick"]], "", None,
    ("<=", 1000, "value"))
drawings = gbench("dsp/display_bench")
row("display tick, the two drawings alone", "us",
    [cpu_us(b) for b in drawings["BM_DisplayTick"]], "", None, None)


def name_values(out):
    """The name=value lines a program benchmark prints, as a dict."""
    return dict(line.split("=", 1) for line in out.split())


def program(*args, env=None, name="program_bench"):
    out = subprocess.run([f"{build}/bench/program/{name}", *args], check=True,
                         capture_output=True, text=True, env=env).stdout
    return name_values(out)


# Start-up: from just before the program is started to its window's first show event.
log("start-up ...")
shown = []
for _ in range(reps):
    env = dict(os.environ, VOCARN_BENCH_T0=str(time.time_ns()))
    shown.append(float(program("show", env=env)["shown_ms"]))
row("start to window shown (wall)", "ms", shown, "", None, ("<=", 500, "value"))

# Idle: the runs go side by side; each counts its own processor time.
log(f"idle {idle_s} s ...")
procs = [subprocess.Popen([f"{build}/bench/program/program_bench", "idle", str(idle_s)],
                          stdout=subprocess.PIPE, text=True) for _ in range(reps)]
idle = [float(name_values(p.communicate()[0])["idle_cpu_pct"]) for p in procs]
row("idle, window open", "% of a core", idle, "", None, ("<=", 0.2, "value"))

# Recording 60 s of the bench audio as it plays into the null sink, from that sink's monitor
# (which delivers it in real time, fragment by fragment, as a sound card does), parecord
# recording the same source at the same time.
log(f"recording 60 s x {record_reps}, window shown and hidden ...")
rec_cpu, rec_rss, pa_cpu, pa_rss = [], [], [], []
hid_cpu, hid_pa_cpu = [], []
for _ in range(record_reps):
    for mode in ("record", "record-hidden"):
        player = subprocess.Popen(
            ["sh", "-c", "while :; do paplay --raw --format=s16le --rate=44100 --channels=2 "
             f"-d vocarn_null {audio} || exit; done"], start_new_session=True)
        time.sleep(1)
        timing = f"{work}/parecord.time"
        parecord = subprocess.Popen(
            ["/usr/bin/time", "-v", "-o", timing, "timeout", "-s", "INT", "61", "parecord",
             "-d", "vocarn_null.monitor", "--rate=44100", "--channels=2", "--format=s16le",
             "--file-format=wav", f"{work}/parecord.wav"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        result = program(mode, "60", "Monitor of Null")
        parecord.wait()
        os.killpg(player.pid, signal.SIGTERM)
        player.wait()
        text = open(timing).read()
        user = float(re.search(r"User time \(seconds\): ([\d.]+)", text).group(1))
        system = float(re.search(r"System time \(seconds\): ([\d.]+)", text).group(1))
        kb = float(re.search(r"Maximum resident set size \(kbytes\): (\d+)", text).group(1))
        got = (os.path.getsize(f"{work}/parecord.wav") - 44) / 176400.0
        if mode == "record":
            pa_cpu.append((user + system) / got)
            pa_rss.append(kb / 1024.0)
            rec_cpu.append(float(result["record_cpu_per_s"]))
            rec_rss.append(float(result["peak_rss_mb"]))
        else:
            hid_pa_cpu.append((user + system) / got)
            hid_cpu.append(float(result["record_cpu_per_s"]))
row("recording: CPU per audio second", "CPU s/s", rec_cpu, "parecord", pa_cpu,
    ("<=", 0.01, "value"))
row("recording, window hidden: CPU per audio second", "CPU s/s", hid_cpu, "parecord",
    hid_pa_cpu, ("<=", 3, "ratio"))

# The same hidden take written as FLAC and as Ogg Opus, beside the PCM figure above.
for extension in ("flac", "opus"):
    log(f"recording 60 s x {record_reps} as {extension}, window hidden ...")
    cpu = []
    for _ in range(record_reps):
        player = subprocess.Popen(
            ["sh", "-c", "while :; do paplay --raw --format=s16le --rate=44100 --channels=2 "
             f"-d vocarn_null {audio} || exit; done"], start_new_session=True)
        time.sleep(1)
        result = program("record-hidden", "60", "Monitor of Null",
                         env=dict(os.environ, VOCARN_BENCH_TYPE=extension))
        os.killpg(player.pid, signal.SIGTERM)
        player.wait()
        cpu.append(float(result["record_cpu_per_s"]))
    row(f"recording hidden as {extension}: CPU per audio second", "CPU s/s", cpu,
        "same as PCM", hid_cpu, None)
row("recording: peak RSS", "MB", rec_rss, "parecord", pa_rss, ("<=", 60, "value"))

# What the machine charges for waking up every 25 ms and doing nothing else: the part of the
# recording figure that the display's timer costs before anything is drawn.
log("wake-ups ...")
wake = [float(program("10", name="wakeup_bench")["wake_cpu_per_s"]) for _ in range(reps)]
row("25 ms timer wake-ups alone (machine)", "CPU s/s", wake, "", None, None)


def fmt(v):
    med, lo, hi = v
    def one(x):
        return f"{x:.3g}" if abs(x) < 1000 else f"{x:.0f}"
    return f"{one(med)} [{one(lo)}-{one(hi)}]"


head = ("measure", "unit", "Vocarn median [min-max]", "anchor", "anchor median [min-max]",
        "ratio", "goal", "holds")
lines = [head]
for name, unit, v, anchor_name, a, goal in rows:
    ratio = v[0] / a[0] if a else None
    holds = ""
    goal_text = ""
    if goal:
        sign, limit, what = goal
        value = ratio if what == "ratio" else v[0]
        ok = value >= limit if sign == ">=" else value <= limit
        holds = "yes" if ok else "NO"
        goal_text = f"{what} {sign} {limit:g}"
    lines.append((name, unit, fmt(v), anchor_name, fmt(a) if a else "",
                  f"{ratio:.2f}" if ratio is not None else "", goal_text, holds))
widths = [max(len(l[i]) for l in lines) for i in range(len(head))]
for i, l in enumerate(lines):
    print("| " + " | ".join(c.ljust(w) for c, w in zip(l, widths)) + " |")
    if i == 0:
        print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
print(f"\n{reps} runs each ({record_reps} for the 60 s recordings; the idle runs side by side, "
      f"{idle_s} s each).")
