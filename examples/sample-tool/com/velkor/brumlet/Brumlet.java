package com.velkor.brumlet;

/**
 * A small sample tool with the launcher's main class, to see the launcher
 * start a real Java program: it lists the arguments it received and exits
 * with the number given by "--exit=N" (0 without it).
 */
public final class Brumlet {
    public static void main(String[] args) {
        System.out.println("Sample tool running on Java " + System.getProperty("java.version")
                + " with " + args.length + " argument(s):");
        int status = 0;
        for (int i = 0; i < args.length; i++) {
            System.out.println("  [" + i + "] <" + args[i] + ">");
            if (args[i].startsWith("--exit=")) {
                status = Integer.parseInt(args[i].substring("--exit=".length()));
            }
        }
        System.out.println("Class path: " + System.getProperty("java.class.path"));
        System.exit(status);
    }
}
