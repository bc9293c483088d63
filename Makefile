# Every target works on a fresh Debian machine: tools/devenv provides CPython 3.14 and 3.15.
DEVENV := tools/devenv run
TESTS ?=
BENCH ?=
# The CPython versions make test-all covers.
VERSIONS ?= 3.14 3.15

.PHONY: test test-all sanitize bench leaks build shell clean

test:
	$(DEVENV) tools/test $(TESTS)

test-all:
	$(DEVENV) env QUIBRA_VERSIONS="$(VERSIONS)" QUIBRA_TEST_PARALLEL=1 tools/test $(TESTS)

bench:
	$(DEVENV) python3.14 benchmarks/run.py $(BENCH)

leaks:
	$(DEVENV) tools/leaks $(or $(TESTS),tests)

sanitize:
	$(DEVENV) tools/sanitize $(TESTS)

build:
	$(DEVENV) true

shell:
	tools/devenv shell

clean:
	rm -rf build quibra/*.so
