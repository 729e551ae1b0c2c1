# The two commands:
#   make run    builds Setup.exe with the default payload and starts its wizard under Wine
#   make test   builds everything and runs every test suite
# Both first install what is missing (Debian packages, the i386 architecture).

.PHONY: run test deps build bench clean

deps:
	@scripts/install-deps.sh

build: deps
	@scripts/build.sh native win32

run: build
	@scripts/run-wizard.sh

test: deps
	@scripts/run-tests.sh

bench: deps
	@scripts/run-bench.sh

clean:
	rm -rf build
