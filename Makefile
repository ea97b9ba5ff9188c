# WaveHarvester: the commands of the README (make run, make test, make install, make uninstall)
# and make bench. Each installs the Debian packages it lacks first, so a fresh Debian 12 machine
# needs nothing else. make install honours PREFIX (default /usr/local) and DESTDIR.

PACKAGES := cmake make g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
            clang libclang-rt-14-dev libasound2-dev alsa-utils sox xvfb xauth \
            libwxgtk3.2-dev libglib2.0-dev xdotool imagemagick fonts-dejavu-core \
            gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-alsa mpg123 \
            desktop-file-utils appstream systemd file \
            pulseaudio pulseaudio-utils pipewire pipewire-bin wireplumber pipewire-pulse \
            dbus libpulse-dev libasound2-plugins
JOBS     := $(shell nproc 2>/dev/null || echo 2)
SUDO     := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
PREFIX   ?= /usr/local
DESTDIR  ?=

.PHONY: all deps build run test bench clean install uninstall deb

all: build

deps:
	@missing=$$(for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	    echo "Installing:" $$missing; \
	    $(SUDO) apt-get update -qq && \
	    DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi

build: deps
	cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWH_BUILD_TESTS=OFF \
	      -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build build/release -j $(JOBS)

run: build
	@./tools/run.sh build/release

test: deps
	cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DWH_SANITIZE=ON
	cmake --build build/test -j $(JOBS)
	cd build/test && ctest --output-on-failure -j $(JOBS)

bench: deps
	cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DWH_BUILD_TESTS=OFF -DWH_BUILD_BENCH=ON
	cmake --build build/bench -j $(JOBS)
	./tools/bench.sh build/bench

# The program, the driver and the desktop files under PREFIX; the ALSA configuration's link in
# /etc/alsa/conf.d makes the device "Playback through WaveHarvester" every user's.
install: build
	DESTDIR="$(DESTDIR)" cmake --install build/release

# Removes exactly what the last make install put (build/release/install_manifest.txt).
uninstall:
	DESTDIR="$(DESTDIR)" cmake -DWH_BUILD=build/release -P cmake/Uninstall.cmake

# The Debian package waveharvester, built in a clean clone (see tools/build-deb.sh).
deb:
	./tools/build-deb.sh

clean:
	rm -rf build
