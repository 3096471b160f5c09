# Two commands on a fresh Debian machine:
#   make run    install what is missing, build, run psex on the shipped example
#   make test   the same set-up, then the whole test suite
# and then, to install the program and its manual page:
#   make install                  into /usr/local (or PREFIX=/some/where)
#   make install DESTDIR=/stage   the same tree below /stage, for packaging
# and, for measuring speed and memory only: 'make bench' (bench/README.md)
#
# Only Debian's packages are used.  'apt-get update' runs only when a package
# is missing, so a machine that has everything is not touched.

PACKAGES := cmake ninja-build g++ libboost-dev libgtest-dev python3
BUILD    := build
EXAMPLE  := examples/seagrass.txt
SUDO     := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: run test install bench deps configure build clean

run: build
	rm -rf $(BUILD)/run && mkdir -p $(BUILD)/run
	cd $(BUILD)/run && ../psex ../../$(EXAMPLE)
	@echo "Result files are in $(BUILD)/run:" && ls $(BUILD)/run

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j2

install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) $(if $(PREFIX),--prefix "$(PREFIX)")

# The benchmark (bench/README.md), never part of 'make test': it builds its
# own Release tree in build-bench/ and prints a table of times and memory.
# Options go in BENCH_ARGS, for example: make bench BENCH_ARGS=--quick
BENCH_ARGS :=
bench: build
	@$(MAKE) --no-print-directory deps PACKAGES=time
	bench/run.sh $(BENCH_ARGS)

deps:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; \
	fi

configure: deps
	@[ -f $(BUILD)/build.ninja ] || cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release

build: configure
	cmake --build $(BUILD)

clean:
	rm -rf $(BUILD)
