BUILD ?= build
CMAKE_FLAGS ?=

.PHONY: all bootstrap bootstrap-packages configure build test demo try-update try-matrix try-update-tools fuzz bench soak clean check-script release package
FUZZ_SECONDS ?= 60
RUNS ?=
SEED ?=
ATOMIC ?=
POWERCUT ?=

all: build

bootstrap:
	@scripts/bootstrap.sh $(BUILD)

# The packages alone, without the Wine prefix: for what runs no Windows program.
bootstrap-packages:
	@scripts/bootstrap.sh $(BUILD) packages

# The toolchain is read by the first configure only; given again, CMake warns
# that it went unused.
configure: bootstrap
	@cmake -S . -B $(BUILD) -G Ninja $(if $(wildcard $(BUILD)/CMakeCache.txt),,-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD)

test: build
	@scripts/with-wine-env.sh $(BUILD) ctest --test-dir $(BUILD) --output-on-failure

demo: build
	@scripts/with-wine-env.sh $(BUILD) scripts/demo.sh $(BUILD)

# make try-update FOLDER=path [VERSION=1.1] [ARGS=-auto] [ANSWERS="yes ok"] [WHATIF=1] [RESULT=path]:
# the update folder run against a registered installed copy in the build's
# Wine prefix; the report in UTF-8, its last line the updater's exit code.
# make ends with 0 when that code is 0 and with 2 otherwise;
# scripts/try-update.sh BUILD_DIR FOLDER [VERSION] [ARGS] [ANSWERS] ends with
# the code itself. WHATIF=1 makes it a dry run and prints the dry run's own
# report as well; RESULT=path collects the run's result file. ARGS is the
# command line as typed at a Windows prompt (ARGS='-auto "C:\My Folder"').
# Knobs, each also a make variable: TRY_APP, TRY_SEED, TRY_RUNNING_MS,
# TRY_SHOTS, TRY_REPORT, TRY_SMALL_DRIVE, TRY_TIMEOUT, TRY_AGAIN (see the script and
# docs/guide.md). Relative paths are taken from the folder make was called from.
try-update: try-update-tools
	@test -n "$(FOLDER)" || { echo 'usage: make try-update FOLDER=path [VERSION=1.1] [ARGS=-auto] [ANSWERS="yes ok"] [WHATIF=1] [RESULT=path]' >&2; exit 2; }
	@CALLER_DIR="$(PWD)" TRY_WHATIF="$(WHATIF)" $(if $(RESULT),TRY_RESULT="$(RESULT)") scripts/with-wine-env.sh $(BUILD) scripts/try-update.sh $(BUILD) "$(FOLDER)" "$(VERSION)" '$(subst ','\'',$(ARGS))' "$(ANSWERS)"

# make try-matrix FOLDER=path VERSIONS="2.2 2.3 2.4" [CONDITIONS="running small twice"] [ARGS=-unattended]:
# the folder tried against an installed copy of each version, then under
# each condition, and one table: condition, exit code, the installed copy
# whole old, whole new or mixed, the id registered (scripts/try-matrix.sh).
try-matrix: try-update-tools
	@test -n "$(FOLDER)" -a -n "$(VERSIONS)" || { echo 'usage: make try-matrix FOLDER=path VERSIONS="2.2 2.3 2.4" [CONDITIONS="running small twice"]' >&2; exit 2; }
	@CALLER_DIR="$(PWD)" $(if $(ARGS),ARGS='$(subst ','\'',$(ARGS))') scripts/with-wine-env.sh $(BUILD) scripts/try-matrix.sh $(BUILD) "$(FOLDER)" "$(VERSIONS)"

# What trying an update needs, without the tests: the updater, the dialog
# robot and the stand-ins for the application, its library and the shell.
TRY_UPDATE_TOOLS = Lumiupd LumiupdRobot MIRO42_fixture LumitelApp shellwindow
try-update-tools: configure
	@cmake --build $(BUILD) --target $(TRY_UPDATE_TOOLS)

bench: build
	@scripts/with-wine-env.sh $(BUILD) scripts/bench.sh $(BUILD)

# make soak [RUNS=N] [SEED=S] [ATOMIC=0|1] [POWERCUT=1]: runs of the real
# updater with random kills and faults (root: it mounts a small tmpfs drive);
# one line of figures at the end. ATOMIC=1: every script all or nothing,
# ATOMIC=0: none (default: half of them). POWERCUT=1: power cuts instead of
# kills, the installed copy on a FUSE drive that keeps only what was flushed.
soak: build
	@ATOMIC="$(ATOMIC)" POWERCUT="$(POWERCUT)" scripts/with-wine-env.sh $(BUILD) python3 scripts/soak.py $(BUILD) "$(RUNS)" "$(SEED)"

fuzz: bootstrap
	@BUILD=$(abspath $(BUILD)) scripts/fuzz.sh run $(FUZZ_SECONDS)

# make check-script SCRIPT=path/Lumiupd.INF [FOLDER=path/update-folder] [STRICT=1] [RAW=1]
# Relative paths are taken from the folder make was called from.
# The native checker, one already built when there is one (the build's, or
# the release's); RAW=1 builds and runs LumiupdCheck.exe under Wine, in code
# page 932.
check-script: $(if $(filter 1,$(RAW)),configure,bootstrap-packages)
	@test -n "$(SCRIPT)" || { echo "usage: make check-script SCRIPT=path [FOLDER=path]" >&2; exit 2; }
	@export CALLER_DIR="$(PWD)" STRICT="$(STRICT)"; \
	if [ "$(RAW)" = 1 ]; then \
	  cmake --build $(BUILD) --target LumiupdCheck >$(BUILD)/check-script-build.log || { cat $(BUILD)/check-script-build.log; exit 2; }; \
	  RAW=1 scripts/with-wine-env.sh $(BUILD) scripts/check-script.sh $(BUILD) "$(SCRIPT)" "$(FOLDER)"; \
	else scripts/check-script.sh $(BUILD) "$(SCRIPT)" "$(FOLDER)"; fi

# make release [LUMIUPD_SIGN_PFX=cert.p12 LUMIUPD_SIGN_PASSWORD=...]: build/release/,
# built twice at two paths and refused unless byte-identical; signed when a certificate is given.
release: bootstrap-packages
	@scripts/release.sh $(BUILD)

# make package SCRIPT=path/NAME.INF FROM=staging-folder OUT=folder [STRICT=1]:
# an update folder from the release (made first when missing). Every finding
# of the checker is shown; STRICT=1 refuses warnings as well as errors.
# Relative paths are taken from the folder make was called from.
package: $(BUILD)/release/Lumiupd.exe bootstrap-packages
	@test -n "$(SCRIPT)" -a -n "$(FROM)" -a -n "$(OUT)" || { echo "usage: make package SCRIPT=path/NAME.INF FROM=folder OUT=folder [STRICT=1]" >&2; exit 2; }
	@CALLER_DIR="$(PWD)" STRICT="$(STRICT)" scripts/package.sh $(BUILD) "$(SCRIPT)" "$(FROM)" "$(OUT)"

$(BUILD)/release/Lumiupd.exe: | bootstrap-packages
	@scripts/release.sh $(BUILD)

clean:
	rm -rf $(BUILD)
