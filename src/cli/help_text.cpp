#include "cli/help_text.h"

#include <cstdio>

#include "cli/exit_status.h"
#include "link/bridge_ids.h"

#ifndef FARSEND_VERSION
#define FARSEND_VERSION "unknown"
#endif

namespace farsend::cli {

std::string HelpText() {
    char ids[64];
    std::snprintf(ids, sizeof ids, "%04x:%04x", static_cast<unsigned>(link::kBridgeVendorId),
                  static_cast<unsigned>(link::kBridgeProductId));
    std::string text = R"(farsend )" FARSEND_VERSION
                       R"( - program Farsend Bluetooth and ZigBee targets through their
serial bootloader, over the USB HID-to-UART bridge ()";
    text += ids;
    text += R"().

Usage: farsend [OPTIONS] COMMAND [FILE]

Commands:
  program [FILE]  connect, check that the file fits the target, erase, program
  erase           erase the target's application (--factory: all of its flash)
  identify        connect and print the target's variant and version
  launch          connect and start the target's application
  watch [FILE]    program every target that connects, until Ctrl+C or --count
  line [FILE]     watch, with the line page served: a live tile per socket
                  in the browser, with retry, stop and continue
  select          show what the firmware directory offers and the file
                  program would use
  inspect FILE    show the format read and the blocks programming FILE would
                  send (no target)
  convert IN [OUT]
                  write IN in the token format the window program reads
                  (default OUT: IN's name with .hex), or as --to says
  devices         list the bridges found, with their locations and serials
  serials         list the serial number pools of the unit database, with
                  what each has issued; serials init NAME --first N
                  [--last M] creates one
  units           list the units in the unit database and the yield per
                  station (host and location) and hour; narrow them with
                  the options --since, --host, --station, --serial and --job
  dashboard       serve the supervisor view of the unit database to a
                  browser: yield per station and hour, failure reasons,
                  a unit by its serial number, CSV export; it only reads
  job new NAME FILE
                  write a production job (JSON) fixing FILE, the mode,
                  validation, serial settings, database and a unit limit,
                  from the options a run would take, to standard output
  job sign JOBFILE
                  sign the job with --key KEYFILE (in place)
  job show JOBFILE, job verify JOBFILE
                  print the job; check it as a run would (nothing sent)
  keys new KEYFILE
                  make a signing key pair: KEYFILE (secret, mode 0600) and
                  KEYFILE.pub
  keys trust PUBFILE, keys list, keys revoke ID
                  the keys whose jobs this unit database's stations run

Without FILE, program chooses from the firmware directory by name
(Farsend*.hex): Bluetooth before ZigBee, hardware 1.5 before 2.0 before 1.0,
unless --variant and --hw say otherwise. program and watch read the file
once, at their start: every unit of the run gets those bytes, and a file
changed meanwhile is warned of and used from the next run on.

FILE may be in the token format (hexadecimal tokens), Intel HEX, Motorola
S-records, ELF (32 or 64 bit, little-endian; segments at their physical
addresses) or raw binary (--format bin --base ADDR). The content tells which:
':' Intel HEX, 'S' and a digit S-records, 7F 'ELF' ELF, else tokens.

Firmware:
  --dir DIR          firmware directory (default: the parent of the current one)
  --variant bluetooth|zigbee
  --hw 1.0|1.5|2.0   the image to choose
  --factory          bootloader and application image; erase: all of the flash
  --no-validate      do not ask the target whether the file fits it
  --force            with --factory: program a file whose name lacks the factory
                     marker (_f), known to hold bootloader and application;
                     convert: replace an existing OUT
  --serial ADDR:SIZE[:FORMAT]
                     write a serial number into the image at target
                     address ADDR (hex), SIZE bytes as FORMAT: le (default)
                     or be, binary of 1 to 8 bytes, or dec, ASCII digits
                     padded with zeros, 1 to 20; the blocks it lands in get
                     fresh checks. program, watch: each unit its own number,
                     from --serial-pool; inspect: the number --serial-value
  --serial-pool NAME program, watch: the pool of the unit database each unit
                     takes its number from, in the transaction that records
                     it as started, before anything is sent (serials init
                     makes one). A unit refused before any block was sent
                     gives its number back
  --serial-value N   inspect: the serial number for --serial, in decimal
  --format token|ihex|srec|elf|bin
                     read FILE as this format, whatever its content says
  --base ADDR        with --format bin: the address (hex) of the file's first
                     byte
  --to token|ihex|srec
                     convert: the format OUT is written in (default token)
Connection:
  --device NAME      use this bridge, not the first one found: its device
                     node, location or serial number (see devices); watch
                     waits for it while it is not plugged in. program and
                     watch take several, one station each
  --all              program, watch: a station on every bridge (watch: also
                     on bridges plugged in later)
  --wait SECONDS     how long to wait for a target to call (default 30;
                     watch: no limit unless given)
  --launch           start the application after programming
Output:
  --json             results as JSON objects on standard output
  --report FILE      append one JSON line per target programmed
  --quiet            no progress display
  --verbose          protocol diagnostics on standard error
  --yes              do not ask before erasing all of the flash
  --count N          watch: stop after N targets (of all stations)
Line page (line, dashboard):
  --listen ADDR:PORT where the page is served (default 127.0.0.1:8642;
                     dashboard: 127.0.0.1:8643; port 0: any free one).
                     Beyond the loopback every view needs the token
  --token-file FILE  the token on FILE's first line (16 characters or more),
                     instead of one made and printed at the start. Every
                     action on a station needs the token
Unit database:
  --db PATH          the unit database: an SQLite file, or a postgresql:// URL
                     that several stations share (default:
                     $XDG_DATA_HOME/farsend/units.sqlite, else
                     ~/.local/share/farsend/units.sqlite; on Windows
                     %LOCALAPPDATA%\farsend\units.sqlite; with --simulate,
                     sim-units.sqlite beside it). program and watch
                     record every unit in it; one that cannot be opened stops
                     them before any target is touched (status 9). The
                     file's folder must exist (the default's is made).
                     Another scheme, a keyword connection string or an
                     in-memory database is refused (status 2)
  --host NAME        program, watch: the PC's name the records carry
                     (default: its host name); units: this PC's units only
  --first N          serials init: the pool's first number (numbers are
                     decimal everywhere: 010 and 0x10 are refused)
  --last M           serials init: its last number (default: the largest the
                     database keeps, 9223372036854775806)
  --since TIME       units: started at or after TIME, UTC (2024-05-01,
                     2024-05-01T12:00 or 2024-05-01T12:00:00Z; 1678 to 2262)
  --station LOCATION units: of this station (the bridge's location)
  --serial N         units: the unit that got serial number N (inspect:
                     --serial ADDR:SIZE[:FORMAT], see above)
Production jobs:
  --job FILE         program, watch: run exactly what the signed job file says
                     (its image beside it, or in --dir); a FILE and the
                     options the job fixes (mode, validation, serial, pool,
                     database, image choice and format) are refused next to
                     it. units: --job NAME, the units of that job only
  --key KEYFILE      job sign: the secret key (keys new makes one)
  --note TEXT        job new: a note the job carries
  --limit N          job new: the most units the job may start, counted in
                     the unit database across the whole line
  --embed            job new: the image's content goes inside the job
  -h, --help         this text
  --version          the version
Simulation (no hardware; time is simulated, so nothing waits for real):
  --simulate             a simulated bridge and target instead of the USB bridge
                         (units recorded as simulated, by default in
                         sim-units.sqlite; serials, units: that database)
  --sim-bridges=N        simulated bridges, each with its own targets (1)
  --sim-real-time        run on the real clock: real durations
  --sim-variant=TEXT     what the target reports as variant (Bluetooth)
  --sim-version=TEXT     ... and as version (1.5.0)
  --sim-targets=N        targets that call one after another (1)
  --sim-erase-blocks=N   blocks the target reports erased (16)
  --sim-baud=N           serial line speed, for durations and rates; 0: none
  --sim-report-length=N  HID report length with its ID byte (65)
  --sim-legacy-hid       the legacy report framing
  --sim-faults=LIST      drop=P,flip=P,noise=P (per byte), silence=N,unplug=N
  --sim-faults=K:LIST    the faults of bridge K alone; so too
                         --sim-variant=K:TEXT and --sim-version=K:TEXT
  --sim-bridge-serial=K:TEXT
                         the serial string bridge K gives (SIM0000K)
  --sim-swap=MS[,VARIANT]
                         a board that failed is taken out MS after it was
                         let go, and the next goes in 1.5 s later (reporting
                         VARIANT); K:MS[,VARIANT] for bridge K alone
  --sim-seed=N           seed of the faults (1)
  --sim-serial-log=FILE  write every byte the target receives
  --sim-flash-out=FILE   write the target's flash as a firmware file at exit
  --sim-flash-dir=DIR    keep every target's flash in DIR as a file of its
                         own, rewritten whole as each block is stored (a kill
                         leaves the old or the new file, never half of one):
                         LOCATION_TIME_pPID_tN.hex for target N of the bridge
                         at LOCATION in process PID, started at TIME (UTC,
                         20240501T120000Z)

Several stations (--all, or --device more than once): each programs its own
targets, and a failure on one never holds up another. Every line starts with
the station's name (its bridge's location), records and JSON objects carry
it, and the run ends with a summary per station. The exit status is the most
serious of the stations': )";
    text += SeverityOrderText();
    text += R"(.

A failed board is one unit (watch): its socket answers no call until the
board has been taken out (it stopped calling for 400 ms) or the operator
types the socket's number or name and Enter (Linux) to try it again. On a
terminal each socket's line shows PASS or FAIL and why until the next board
starts, in colour unless NO_COLOR is set.

The unit database lost during a run: the unit in hand finishes, and its
record goes to --report (if given) and to a spool file, written into the
database at the next start of program, watch or units against it (or during
the run, once it answers again). The spool of an SQLite file is beside it,
FILE.spool; that of a URL is spool-DIGEST.jsonl in the default database's
folder (see --db). While it is lost no number can be taken: with
--serial-pool a station refuses its next unit (status 9), and never makes one
up. A unit neither the database nor the spool could keep: status 8. It is
lost when a PostgreSQL server leaves a connection or statement unanswered for
FARSEND_DB_TIMEOUT seconds (default 10; at the start: status 9), and when
its SQLite file is deleted or replaced mid-run; that path is then not opened
again before the next run. units and serials read a database they may not
write.

Ctrl+C, SIGTERM and SIGHUP: the target in hand is finished and recorded, then
the run stops with status 1 if that leaves undone what was asked (watch, or no
target yet) and no target failed. A second signal stops at once: the targets
in hand stop before their next block and are recorded as interrupted (status
1, never programmed); a third ends the process. A signal while the database
is opened or its spool replayed ends the start with status 1, nothing sent.

)";
    text += ExitStatusHelp();
    text += R"(
Examples:
  farsend select --variant zigbee --hw 2.0
  farsend program                           first bridge, image chosen by name
  farsend program Farsend_15_bt.hex --launch
  farsend erase --factory --yes
  farsend watch --report units.jsonl        production: every target in turn
  farsend watch --all --report units.jsonl  every bridge at once
  farsend line --all Farsend_15_bt.hex      the same, on a page in the browser
  farsend inspect --json Farsend_15_bt.hex
  farsend inspect --serial 0x4010:10:dec --serial-value 1234 Farsend_15_bt.hex
  farsend program app.elf                   straight from the linker
  farsend program --format bin --base 0x4000 app.bin
  farsend convert app.elf Farsend_15_bt.hex
  farsend serials init board --first 1000 --db postgresql://line1/farsend
  farsend watch --all --serial 0x4010:4 --serial-pool board
                                            each unit its own number
  farsend units --since 2024-05-01 --station 1-2.3
  farsend dashboard --db postgresql://line1/farsend --listen 0.0.0.0:8643
  farsend --job line.job watch --all       exactly what the signed job says
  farsend --simulate --sim-baud=115200 program   the whole flow, no hardware
)";
    return text;
}

std::string VersionText() {
    return "farsend " FARSEND_VERSION "\n";
}

}  // namespace farsend::cli
