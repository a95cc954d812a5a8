#!/usr/bin/env python3
"""Writes the flight profiles of this folder (see README.md).

Each flight is a list of segments flown by a simple point-mass model of a
Cessna 172 over flat ground at Seattle-Tacoma (runway 16L, threshold at the
origin, true heading 180). The model integrates ground speed, heading and
vertical speed in 0.1 s steps; rows are written at each segment's cadence and
at every segment boundary, holding only the values that changed.

Run it from anywhere: python3 flights/make_profiles.py
"""

import math
import os

HERE = os.path.dirname(os.path.abspath(__file__))

THRESHOLD_LAT = 47.46380
THRESHOLD_LON = -122.30800
GROUND_ELEVATION_M = 131.0
CG_HEIGHT_M = 0.98          # y_agl of the aircraft standing on its wheels
RUNWAY_HEADING = 180.0
RUNNING_TIME_AT_START = 600.0
EMPTY_MASS_KG = 852.0       # aircraft and pilot
FUEL_AT_START_KG = 110.0
FUEL_FLOW_KG_S = 0.0095
STEP = 0.1
FT_PER_M = 3.28084
KT_PER_MS = 1.94384

GEAR = {
    "ground": [1, 1, 1, 0, 0, 0, 0, 0, 0, 0],
    "nose_up": [0, 1, 1, 0, 0, 0, 0, 0, 0, 0],   # rotation: nose wheel off, mains down
    "mains": [0, 1, 1, 0, 0, 0, 0, 0, 0, 0],     # touchdown: mains down, nose still up
    "air": [0] * 10,
}

# Declarations: alias, type, path. Every dataref the plug-in reads, with the
# type X-Plane 12 publishes it as (host/include/XPlaneDataRefs.h; its doubles,
# the position, are written as float).
DATAREFS = [
    ("lat", "float", "sim/flightmodel/position/latitude"),
    ("lon", "float", "sim/flightmodel/position/longitude"),
    ("elev", "float", "sim/flightmodel/position/elevation"),
    ("psi", "float", "sim/flightmodel/position/psi"),
    ("gs", "float", "sim/flightmodel/position/groundspeed"),
    ("agl", "float", "sim/flightmodel/position/y_agl"),
    ("alt_ind", "float", "sim/cockpit2/gauges/indicators/altitude_ft_pilot"),
    ("radalt", "float", "sim/cockpit2/gauges/indicators/radio_altimeter_height_ft_pilot"),
    ("icao", "bytes", "sim/aircraft/view/acf_ICAO"),
    ("name", "bytes", "sim/aircraft/view/acf_ui_name"),
    ("descrip", "bytes", "sim/aircraft/view/acf_descrip"),
    ("gear", "int[10]", "sim/flightmodel2/gear/on_ground"),
    ("vs", "float", "sim/cockpit2/gauges/indicators/vvi_fpm_pilot"),
    ("g", "float", "sim/flightmodel/forces/g_nrml"),
    ("bank", "float", "sim/cockpit2/gauges/indicators/roll_AHARS_deg_pilot"),
    ("pitch", "float", "sim/cockpit2/gauges/indicators/pitch_AHARS_deg_pilot"),
    ("ias", "float", "sim/flightmodel/position/indicated_airspeed"),
    ("tas", "float", "sim/flightmodel/position/true_airspeed"),
    ("run_time", "float", "sim/time/total_running_time_sec"),
    ("paused", "int", "sim/time/paused"),
    ("flaps", "float", "sim/cockpit2/controls/flap_ratio"),
    ("brake", "float", "sim/cockpit2/controls/parking_brake_ratio"),
    ("gear_handle", "int", "sim/cockpit/switches/gear_handle_status"),
    ("spoilers", "float[48]", "sim/flightmodel2/wing/spoiler1_deg"),
    ("speedbrake", "float", "sim/cockpit2/controls/speedbrake_ratio"),
    ("stall", "int", "sim/flightmodel/failures/stallwarning"),
    ("overspeed", "int", "sim/flightmodel/failures/over_vne"),
    ("power", "float[16]", "sim/flightmodel/engine/ENGN_power"),
    ("mass", "float", "sim/flightmodel/weight/m_total"),
    ("fuel", "float", "sim/flightmodel/weight/m_fuel_total"),
    ("l_beacon", "int", "sim/cockpit2/switches/beacon_on"),
    ("l_nav", "int", "sim/cockpit2/switches/navigation_lights_on"),
    ("l_strobe", "int", "sim/cockpit2/switches/strobe_lights_on"),
    ("l_taxi", "int", "sim/cockpit2/switches/taxi_light_on"),
    ("l_landing", "int", "sim/cockpit2/switches/landing_lights_on"),
    ("xpdr_mode", "int", "sim/cockpit2/radios/actuators/transponder_mode"),
    ("xpdr_code", "int", "sim/cockpit/radios/transponder_code"),
    ("wind_dir", "float", "sim/weather/wind_direction_degt"),
    ("wind_speed", "float", "sim/weather/wind_speed_kt"),
    ("acf_wind_dir", "float", "sim/weather/aircraft/wind_now_direction_degt"),
    ("acf_wind_speed", "float", "sim/weather/aircraft/wind_now_speed_msc"),
]

# Cockpit settings per phase; a segment names one and may override entries.
PHASES = {
    "parked": dict(power=9000, flaps=0.0, brake=1.0, l_taxi=0, l_strobe=0, l_landing=0, xpdr_mode=1),
    "taxi": dict(power=16000, flaps=0.0, brake=0.0, l_taxi=1, l_strobe=0, l_landing=0, xpdr_mode=1),
    "takeoff": dict(power=119000, flaps=0.25, brake=0.0, l_taxi=0, l_strobe=1, l_landing=1, xpdr_mode=3),
    "climb": dict(power=112000, flaps=0.0, brake=0.0, l_taxi=0, l_strobe=1, l_landing=1, xpdr_mode=3),
    "cruise": dict(power=78000, flaps=0.0, brake=0.0, l_taxi=0, l_strobe=1, l_landing=0, xpdr_mode=3),
    "pattern": dict(power=60000, flaps=0.0, brake=0.0, l_taxi=0, l_strobe=1, l_landing=1, xpdr_mode=3),
    "approach": dict(power=35000, flaps=0.75, brake=0.0, l_taxi=0, l_strobe=1, l_landing=1, xpdr_mode=3),
    "flare": dict(power=10000, flaps=0.75, brake=0.0, l_taxi=0, l_strobe=1, l_landing=1, xpdr_mode=3),
    "rollout": dict(power=9000, flaps=0.75, brake=0.0, l_taxi=0, l_strobe=1, l_landing=1, xpdr_mode=3),
}


class Seg:
    """One piece of a flight: duration, speed and vertical-speed ramps, total
    heading change (positive: right turn), gear state and cockpit phase."""

    def __init__(self, dur, gs, vs=(0.0, 0.0), turn=0.0, gear="air", phase="pattern", cadence=1.0,
                 g=None, pitch=None, note=""):
        self.dur = round(dur, 1)
        self.gs = gs if isinstance(gs, tuple) else (gs, gs)
        self.vs = vs if isinstance(vs, tuple) else (vs, vs)
        self.turn = turn
        self.gear = gear
        self.phase = phase
        self.cadence = cadence
        self.g = g
        self.pitch = pitch
        self.note = note


def lerp(a, b, f):
    return a + (b - a) * f


def bank_for(gs_kt, turn_rate_deg_s):
    omega = math.radians(turn_rate_deg_s)
    return math.degrees(math.atan(gs_kt / KT_PER_MS * omega / 9.81))


class Flight:
    def __init__(self, segments, start_heading=RUNWAY_HEADING):
        self.segments = segments
        self.start_heading = start_heading

    def fly(self):
        """Returns (time, state) samples every STEP and the segment boundary times."""
        x = y = 0.0          # metres east and north of the threshold
        h = 0.0              # feet of the wheels above ground
        heading = self.start_heading
        fuel = FUEL_AT_START_KG
        t = 0.0
        samples = []
        boundaries = []
        for seg in self.segments:
            steps = int(round(seg.dur / STEP))
            rate = seg.turn / seg.dur if seg.dur > 0 else 0.0
            boundaries.append((round(t, 1), seg))
            for i in range(steps):
                f = i / steps
                gs = lerp(seg.gs[0], seg.gs[1], f)
                vs = lerp(seg.vs[0], seg.vs[1], f)
                airborne = seg.gear == "air"
                bank = bank_for(gs, rate) if airborne else 0.0
                samples.append((round(t, 1), dict(x=x, y=y, h=h, heading=heading % 360.0, gs=gs, vs=vs,
                                                     bank=bank, seg=seg, fuel=fuel, f=f)))
                v = gs / KT_PER_MS
                x += v * math.sin(math.radians(heading)) * STEP
                y += v * math.cos(math.radians(heading)) * STEP
                heading += rate * STEP
                h = max(0.0, h + vs / 60.0 * STEP) if airborne else 0.0
                if seg.phase not in ("parked",):
                    fuel -= FUEL_FLOW_KG_S * STEP
                t += STEP
        last = self.segments[-1]
        samples.append((round(t, 1), dict(x=x, y=y, h=h, heading=heading % 360.0, gs=last.gs[1], vs=last.vs[1],
                                             bank=0.0, seg=last, fuel=fuel, f=1.0)))
        return samples, boundaries, round(t, 1)


def values_at(state, t):
    seg = state["seg"]
    airborne = seg.gear == "air"
    h_ft = state["h"] if airborne else 0.0
    y_agl = h_ft / FT_PER_M + CG_HEIGHT_M
    elevation = GROUND_ELEVATION_M + y_agl
    lat = THRESHOLD_LAT + state["y"] / 111132.0
    lon = THRESHOLD_LON + state["x"] / (111320.0 * math.cos(math.radians(THRESHOLD_LAT)))
    bank = state["bank"]
    g = seg.g if seg.g is not None else (1.0 / math.cos(math.radians(bank)) if airborne else 1.0)
    if seg.pitch is not None:
        pitch = seg.pitch
    elif airborne:
        pitch = max(-6.0, min(12.0, 2.0 + state["vs"] / 140.0))
    else:
        pitch = 0.0
    phase = PHASES[seg.phase]
    # The stall warning sounds from rotation until 50 ft above the runway.
    stall_horn = seg.gear == "nose_up" or (airborne and seg.phase == "climb" and h_ft < 50.0)
    values = dict(
        lat=f"{lat:.7f}", lon=f"{lon:.7f}", elev=f"{elevation:.2f}", psi=f"{state['heading']:.1f}",
        gs=f"{state['gs'] / KT_PER_MS:.2f}", agl=f"{y_agl:.2f}", alt_ind=f"{elevation * FT_PER_M:.0f}",
        radalt=f"{h_ft:.0f}",
        gear=",".join(str(v) for v in GEAR[seg.gear]), vs=f"{state['vs']:.0f}", g=f"{g:.3f}",
        bank=f"{bank:.1f}", pitch=f"{pitch:.1f}", ias=f"{state['gs']:.1f}", tas=f"{state['gs'] / KT_PER_MS:.2f}",
        run_time=f"{RUNNING_TIME_AT_START + t:.1f}",
        flaps=f"{phase['flaps']:.2f}", brake=f"{phase['brake']:.1f}",
        power=",".join([f"{phase['power']:.0f}"] + ["0"] * 15),
        mass=f"{EMPTY_MASS_KG + state['fuel']:.1f}", fuel=f"{state['fuel']:.1f}",
        l_strobe=str(phase["l_strobe"]), l_taxi=str(phase["l_taxi"]), l_landing=str(phase["l_landing"]),
        xpdr_mode=str(phase["xpdr_mode"]), stall="1" if stall_horn else "0",
    )
    return values


CONSTANTS = dict(
    icao="C172", name='"Cessna Skyhawk"', descrip='"Cessna 172 SP Skyhawk"', paused="0", gear_handle="1",
    spoilers=",".join(["0"] * 48), speedbrake="0", overspeed="0", l_beacon="1", l_nav="1", xpdr_code="1200",
    wind_dir="170", wind_speed="1.5", acf_wind_dir="170", acf_wind_speed="1.54",
)


def write_profile(filename, title, description, flight, end_time, origin_shift=(0.0, 0.0)):
    samples, boundaries, flight_end = flight.fly()
    boundary_times = {t for t, _ in boundaries} | {flight_end}
    cadence_at = {}
    for t, seg in boundaries:
        cadence_at[t] = seg.cadence
    lines = [f"# {title}", "#"]
    lines += [f"# {line}" if line else "#" for line in description.strip().splitlines()]
    lines += ["#", "# Generated by make_profiles.py; edit that script and run it again rather than",
              "# editing this file by hand.", ""]
    width = max(len(a) for a, _, _ in DATAREFS)
    for alias, kind, path in DATAREFS:
        lines.append(f"dataref {alias:<{width}} {kind:<9} {path}")
    lines.append("")

    last = {}
    segment_start = 0.0
    cadence = boundaries[0][1].cadence
    notes = {t: seg.note for t, seg in boundaries if seg.note}
    for t, state in samples:
        if t in cadence_at:
            segment_start = t
            cadence = cadence_at[t]
        on_cadence = abs(((t - segment_start) / cadence) - round((t - segment_start) / cadence)) < 1e-6
        if not (on_cadence or t in boundary_times):
            continue
        state = dict(state)
        state["x"] -= origin_shift[0]
        state["y"] -= origin_shift[1]
        values = values_at(state, t)
        if not last:
            values.update(CONSTANTS)
        changed = [f"{k}={v}" for k, v in values.items() if last.get(k) != v]
        last.update(values)
        if t in notes:
            lines.append(f"# {notes[t]}")
        if changed:
            lines.append(f"{t:.1f} " + " ".join(changed))
    lines.append(f"end {end_time:.1f}")
    with open(os.path.join(HERE, filename), "w") as out:
        out.write("\n".join(lines) + "\n")
    return samples


def takeoff(roll_seconds=15.0, rotate_seconds=2.0):
    """Takeoff roll from a standstill on the runway: nose wheel off the ground
    for the last rotate_seconds, lift-off at the end."""
    return [
        Seg(roll_seconds - rotate_seconds, (0.0, 52.0), gear="ground", phase="takeoff", cadence=1.0,
            note="takeoff roll"),
        Seg(rotate_seconds, (52.0, 56.0), gear="nose_up", phase="takeoff", cadence=0.5, pitch=8.0,
            note="rotation: nose wheel off the ground"),
    ]


def landing(final_seconds, final_from_ft, flare_seconds=4.0, touchdown_fpm=-150.0, cadence=0.5):
    """Straight final descent and flare ending with the wheels at exactly 0 ft:
    the final descends at a constant rate chosen to leave the flare's height."""
    flare_start_fpm = -450.0
    flare_loss_ft = -(flare_start_fpm + touchdown_fpm) / 2.0 * flare_seconds / 60.0
    final_fpm = -(final_from_ft - flare_loss_ft) / final_seconds * 60.0
    return [
        Seg(final_seconds, (68.0, 62.0), vs=(final_fpm, final_fpm), phase="approach", cadence=cadence,
            note="final approach"),
        Seg(flare_seconds, (62.0, 56.0), vs=(flare_start_fpm, touchdown_fpm), phase="flare", cadence=0.5,
            note="flare"),
    ]


def touchdown_and_rollout(rollout_seconds, touchdown_fpm=-150.0, to_kt=10.0):
    """Main wheels first with the vertical-speed indicator still showing the
    touchdown rate, then the nose wheel, then braking to taxi speed."""
    return [
        Seg(1.5, (56.0, 52.0), vs=(touchdown_fpm, touchdown_fpm), gear="mains", phase="rollout", cadence=0.5,
            g=1.22, pitch=5.0, note=f"touchdown on the main wheels at {touchdown_fpm:.0f} ft/min"),
        Seg(1.0, (52.0, 48.0), vs=(-60.0, 0.0), gear="ground", phase="rollout", cadence=0.5, g=1.04,
            note="nose wheel down"),
        Seg(rollout_seconds, (48.0, to_kt), gear="ground", phase="rollout", cadence=1.0),
    ]


def solve_legs(build, unknowns, targets):
    """Finds durations for straight legs that bring every target (a function
    of the flown samples) to zero, by Newton steps with a finite-difference
    Jacobian; the flight is nearly linear in them, so a few steps suffice."""
    durations = [max(1.0, d) for d in unknowns]
    for _ in range(8):
        base = [t(build(durations)) for t in targets]
        if max(abs(v) for v in base) < 0.05:
            break
        jac = []
        for i in range(len(durations)):
            shifted = list(durations)
            shifted[i] += 1.0
            jac.append([t(build(shifted)) - b for t, b in zip(targets, base)])
        # jac[j] is how every target moves per second of leg j: solve J d = -base
        # by Gauss-Jordan elimination.
        n = len(durations)
        a = [[jac[j][i] for j in range(n)] + [-base[i]] for i in range(n)]
        for c in range(n):
            p = max(range(c, n), key=lambda r: abs(a[r][c]))
            a[c], a[p] = a[p], a[c]
            for r in range(n):
                if r != c:
                    k = a[r][c] / a[c][c]
                    a[r] = [x - k * y for x, y in zip(a[r], a[c])]
        durations = [max(0.0, durations[i] + a[i][n] / a[i][i]) for i in range(n)]
    return [round(d, 1) for d in durations]


def touchdown_point(samples):
    for t, s in samples:
        if s["seg"].gear == "mains":
            return t, s
    raise ValueError("no touchdown")


def liftoff_point(samples):
    for t, s in samples:
        if s["seg"].gear == "air":
            return t, s
    raise ValueError("no lift-off")


# ---- the flights ----------------------------------------------------------

PARKED_ON_RUNWAY = Seg(20.0, 0.0, gear="ground", phase="parked", cadence=5.0, note="lined up on runway 16L")


def climb_segment(to_ft, fpm, gs, note):
    """A straight climb whose duration is on the 0.1 s grid and whose rate
    makes it end at exactly to_ft."""
    seconds = round(to_ft / fpm * 60.0, 1)
    return Seg(seconds, gs, vs=to_ft / seconds * 60.0, phase="climb", cadence=1.0, note=note)


def circuit(airborne_seconds, pattern_ft, climb_fpm, turn_seconds, final_seconds, descent_in_turns_fpm=0.0):
    """A left-hand circuit back to the runway it left. Crosswind and base are
    solved so that it touches down 150 m past the lift-off point on the
    centreline; the downwind takes up the rest of airborne_seconds."""
    climb = climb_segment(pattern_ft, climb_fpm, (60.0, 72.0), "lift-off, climbing straight ahead")
    final_from_ft = pattern_ft + 2 * turn_seconds * descent_in_turns_fpm / 60.0
    fixed_seconds = climb.dur + 4 * turn_seconds + final_seconds + 4.0

    def build(legs):
        crosswind, base = (round(max(0.0, leg), 1) for leg in legs)
        downwind = round(airborne_seconds - fixed_seconds - crosswind - base, 1)
        if downwind < 0:
            raise ValueError(f"circuit of {airborne_seconds} s too short for its legs")
        return [
            climb,
            Seg(turn_seconds, 80.0, turn=-90.0, phase="pattern", cadence=1.0, note="turn to crosswind"),
            Seg(crosswind, 85.0, phase="pattern", cadence=2.0, note="crosswind"),
            Seg(turn_seconds, 85.0, turn=-90.0, phase="pattern", cadence=1.0, note="turn to downwind"),
            Seg(downwind, 95.0, phase="pattern", cadence=2.0, note="downwind"),
            Seg(turn_seconds, 80.0, vs=descent_in_turns_fpm, turn=-90.0, phase="approach", cadence=1.0,
                note="turn to base"),
            Seg(base, 75.0, phase="approach", cadence=2.0, note="base"),
            Seg(turn_seconds, 70.0, vs=descent_in_turns_fpm, turn=-90.0, phase="approach", cadence=1.0,
                note="turn to final"),
        ] + landing(final_seconds, final_from_ft)

    def flown(legs):
        return Flight(takeoff() + build(legs) + touchdown_and_rollout(10.0)).fly()[0]

    targets = [
        lambda s: touchdown_point(s)[1]["x"] - liftoff_point(s)[1]["x"],
        lambda s: touchdown_point(s)[1]["y"] - (liftoff_point(s)[1]["y"] - 150.0),
    ]
    legs = solve_legs(flown, [5.0, 5.0], targets)
    return build(legs)


def circuit_2min():
    segments = [PARKED_ON_RUNWAY] + takeoff() + circuit(
        airborne_seconds=120.0, pattern_ft=300.0, climb_fpm=1000.0, turn_seconds=9.0, final_seconds=25.0) + \
        touchdown_and_rollout(20.0) + [
        Seg(15.0, (10.0, 0.0), gear="ground", phase="taxi", cadence=1.0, note="taxi clear and stop"),
        Seg(5.0, 0.0, gear="ground", phase="parked", cadence=5.0),
    ]
    return Flight(segments)


def hop_59_9():
    # Lift-off at 35.6 s, half-way between the plug-in's once-a-second ground
    # cycles of an untouched run, and touchdown 59.9 s later.
    segments = [PARKED_ON_RUNWAY, Seg(0.6, 0.0, gear="ground", phase="takeoff", cadence=0.5)] + takeoff() + [
        Seg(15.0, (58.0, 65.0), vs=600.0, phase="climb", cadence=1.0, note="lift-off"),
        Seg(22.4, 70.0, phase="pattern", cadence=1.0, note="level at 150 ft along the runway"),
    ] + landing(18.5, 150.0) + touchdown_and_rollout(20.0) + [
        Seg(10.0, (10.0, 0.0), gear="ground", phase="taxi", cadence=1.0, note="taxi clear and stop"),
        Seg(5.0, 0.0, gear="ground", phase="parked", cadence=5.0),
    ]
    return Flight(segments)


def flight_20min():
    """Climb south, turn, cruise north past the field, descend, turn back onto
    the extended centreline and land where it took off. Both turns are flown
    at the same speed and rate, so the second undoes the first's offset."""
    cruise_ft = 4000.0
    final_from_ft = 1000.0
    climb = climb_segment(cruise_ft, 700.0, (65.0, 78.0), "lift-off, climbing south")
    climb.cadence = 2.0
    descent_fpm = -600.0
    descent_seconds = round((cruise_ft - final_from_ft) / -descent_fpm * 60.0, 1)
    fixed_seconds = climb.dur + 2 * 60.0 + descent_seconds + 120.0 + 4.0

    def build(legs):
        outbound = round(max(0.0, legs[0]), 1)
        inbound = round(1200.0 - fixed_seconds - outbound, 1)
        return [
            climb,
            Seg(outbound, 110.0, phase="cruise", cadence=5.0, note="cruise south at 4000 ft"),
            Seg(60.0, 100.0, turn=180.0, phase="cruise", cadence=2.0, note="standard-rate turn to the north"),
            Seg(inbound, 110.0, phase="cruise", cadence=5.0, note="cruise north"),
            Seg(descent_seconds, (100.0, 90.0), vs=descent_fpm, phase="approach", cadence=2.0,
                note="descent to 1000 ft, still northbound"),
            Seg(60.0, 100.0, turn=180.0, phase="approach", cadence=2.0,
                note="standard-rate turn back south onto the extended centreline"),
        ] + landing(120.0, final_from_ft, cadence=1.0)

    def flown(legs):
        return Flight(takeoff() + build(legs) + touchdown_and_rollout(10.0)).fly()[0]

    targets = [lambda s: touchdown_point(s)[1]["y"] - (liftoff_point(s)[1]["y"] - 150.0)]
    legs = solve_legs(flown, [150.0], targets)
    segments = [
        Seg(20.0, 0.0, gear="ground", phase="parked", cadence=5.0, note="engine running, holding short"),
        Seg(20.0, (0.0, 8.0), gear="ground", phase="taxi", cadence=2.0, note="taxi onto the runway"),
        Seg(5.0, (8.0, 0.0), gear="ground", phase="taxi", cadence=1.0, note="lined up"),
    ] + takeoff() + build(legs) + touchdown_and_rollout(20.0) + [
        Seg(10.0, (10.0, 0.0), gear="ground", phase="taxi", cadence=1.0),
    ]
    return Flight(segments)


def touch_and_go():
    segments = [PARKED_ON_RUNWAY] + takeoff() + circuit(
        airborne_seconds=105.0, pattern_ft=250.0, climb_fpm=1000.0, turn_seconds=8.0, final_seconds=20.0) + [
        Seg(2.0, (56.0, 55.0), vs=-150.0, gear="mains", phase="flare", cadence=0.5, g=1.18, pitch=5.0,
            note="first touchdown at -150 ft/min"),
        Seg(2.5, (57.0, 58.0), vs=200.0, phase="takeoff", cadence=0.5, note="power up and off again: the go"),
        Seg(2.5, (58.0, 57.0), vs=(-100.0, -300.0), phase="flare", cadence=0.5,
            note="settling back, still inside the ten-second cool-down"),
        Seg(1.0, (57.0, 55.0), vs=-300.0, gear="mains", phase="rollout", cadence=0.5, g=1.3, pitch=4.0,
            note="second touchdown, seven seconds after the first"),
    ] + touchdown_and_rollout(20.0)[1:] + [
        Seg(15.0, (10.0, 0.0), gear="ground", phase="taxi", cadence=1.0, note="taxi clear and stop"),
        Seg(5.0, 0.0, gear="ground", phase="parked", cadence=5.0),
    ]
    return Flight(segments)


def demo():
    taxi = [
        Seg(30.0, 0.0, gear="ground", phase="parked", cadence=5.0, note="parked, engine running"),
        Seg(15.0, (0.0, 12.0), gear="ground", phase="taxi", cadence=1.0, note="taxi west"),
        Seg(20.0, 12.0, gear="ground", phase="taxi", cadence=2.0),
        Seg(10.0, (12.0, 8.0), turn=-90.0, gear="ground", phase="taxi", cadence=1.0,
            note="turn south onto the parallel taxiway"),
        Seg(25.0, 12.0, gear="ground", phase="taxi", cadence=2.0),
        Seg(8.0, (12.0, 6.0), turn=90.0, gear="ground", phase="taxi", cadence=1.0, note="turn west onto the runway"),
        Seg(8.0, (6.0, 0.0), turn=-90.0, gear="ground", phase="taxi", cadence=1.0, note="line up on 16L"),
        Seg(9.0, 0.0, gear="ground", phase="takeoff", cadence=3.0, note="lined up, lights on"),
    ]
    after_landing = touchdown_and_rollout(25.0) + [
        Seg(8.0, 10.0, turn=-90.0, gear="ground", phase="taxi", cadence=1.0, note="vacate the runway"),
        Seg(40.0, 12.0, gear="ground", phase="taxi", cadence=2.0, note="taxi in"),
        Seg(10.0, (12.0, 0.0), turn=-90.0, gear="ground", phase="taxi", cadence=1.0),
        Seg(40.0, 0.0, gear="ground", phase="parked", cadence=5.0, note="parked"),
    ]
    air = circuit(airborne_seconds=390.0, pattern_ft=1000.0, climb_fpm=750.0, turn_seconds=20.0,
                  final_seconds=80.0, descent_in_turns_fpm=-500.0)
    # The taxi starts east of the runway so that it ends at the threshold; its
    # end point is found by flying it alone.
    taxi_end = Flight(taxi, start_heading=270.0).fly()[0][-1][1]
    flight = Flight(taxi + takeoff() + air + after_landing, start_heading=270.0)
    return flight, (taxi_end["x"], taxi_end["y"])


def main():
    write_profile(
        "circuit-2min.flight", "Two-minute circuit",
        """A tight left-hand circuit from runway 16L at Seattle-Tacoma: two minutes
from lift-off to touchdown, a landing at -150 ft/min, then parked long enough
for the detector's new-flight reset (more than 300 s after the takeoff).""",
        circuit_2min(), end_time=360.0)
    write_profile(
        "hop-59.9.flight", "A hop of 59.9 seconds",
        """Lift-off, 150 ft along the runway, and down again 59.9 s after lift-off:
too short to count as a landing. Parked afterwards until past the reset.""",
        hop_59_9(), end_time=345.0)
    write_profile(
        "flight-20min.flight", "Twenty-minute flight",
        """Out and back at 4000 ft: twenty minutes from lift-off to touchdown, so the
detector's new-flight reset happens in the touchdown call itself.""",
        flight_20min(), end_time=1310.0)
    write_profile(
        "touch-and-go.flight", "Touch-and-go inside the landing cool-down",
        """A circuit of 100 s, a touchdown, off again two seconds later and down again
seven seconds after the first touchdown: the second touchdown falls inside the
ten-second cool-down of the first and is not a second landing.""",
        touch_and_go(), end_time=345.0)
    flight, shift = demo()
    write_profile(
        "demo.flight", "Demo flight",
        """Taxi to runway 16L at Seattle-Tacoma, takeoff, a left-hand circuit at
1000 ft of four and a half minutes, a landing at -150 ft/min, taxi in and park.""",
        flight, end_time=660.0, origin_shift=shift)


if __name__ == "__main__":
    main()
